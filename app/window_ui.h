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
// and icon; panel_changed redraws the main window. (The receive worker's
// questions and notices reach this thread through the progress dialog.)
UserInterface& window_ui();

}  // namespace larkspur::app
