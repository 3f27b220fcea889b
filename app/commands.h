// The commands of the main window's six buttons.
#pragma once

namespace larkspur::app {

// Runs the command of button `id` (resource.h); any other id does nothing.
void run_command(int id);

// The confirmed full rebuild, with its messages owned by the main window.
// A second request while one waits for the site lock does nothing.
void rebuild_command();

}  // namespace larkspur::app
