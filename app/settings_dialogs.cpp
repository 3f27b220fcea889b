// Placeholders until the settings dialogs are built: each button does
// nothing yet.
#include "app/settings_dialogs.h"

namespace larkspur::app {

void show_account_dialog(HWND) {}
void show_list_dialog(HWND) {}
bool show_log_deletion_dialog(HWND) { return false; }

}  // namespace larkspur::app
