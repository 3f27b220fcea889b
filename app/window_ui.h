// The core's questions and notices shown as message boxes owned by the main
// window.
#pragma once

#include <windows.h>

#include "settings/ui.h"

namespace larkspur::app {

// MessageBoxW owned by `owner` with the message's caption, text and icon
// (converted from Shift_JIS) and the given MB_ buttons; returns the answer.
int show_message_box(HWND owner, const Message& message, UINT buttons);

// For the user-interface thread: MessageBoxW with the message's caption, text
// and icon; panel_changed redraws the main window.
UserInterface& window_ui();

// For any other thread (the receive worker): hands each question and notice
// to the user-interface thread and waits for the answer; panel_changed does
// nothing, as the panel is redrawn when the job ends.
UserInterface& worker_ui();

}  // namespace larkspur::app
