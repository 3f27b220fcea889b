// The core's questions and notices shown as message boxes owned by the main
// window.
#pragma once

#include "settings/ui.h"

namespace larkspur::app {

// For the user-interface thread: MessageBoxW with the message's caption, text
// and icon; panel_changed redraws the main window.
UserInterface& window_ui();

// For any other thread (the receive worker): hands each question and notice
// to the user-interface thread and waits for the answer; panel_changed does
// nothing, as the panel is redrawn when the job ends.
UserInterface& worker_ui();

}  // namespace larkspur::app
