// The commands of the main window's six buttons, and the search page.
#pragma once

#include "settings/outcome.h"

namespace larkspur::app {

// Runs the command of button `id` (resource.h) or ID_CMD_SEARCH; any other
// id does nothing.
void run_command(int id);

// The confirmed full rebuild, with its messages owned by the main window.
// A second request while one waits for the site lock does nothing.
// Its outcome; refused for a second request.
Outcome rebuild_command();

}  // namespace larkspur::app
