// The three modal settings dialogs opened by the main window's buttons.
#pragma once

#include <windows.h>

namespace larkspur::app {

// I_POP_DIALOG, the POP3 account (button 103).
void show_account_dialog(HWND owner);

// I_LK_DIALOG, the lists (button 104). The dialog refreshes and redraws the
// panel itself after each change.
void show_list_dialog(HWND owner);

// I_DEL_DIALOG, the log deletion (button 107). True when its Delete button
// was pressed at least once, so the site must be rebuilt.
bool show_log_deletion_dialog(HWND owner);

}  // namespace larkspur::app
