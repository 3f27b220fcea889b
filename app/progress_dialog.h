// The progress dialog I_INFO_DIALOG of a receive job: modeless, owned by the
// main window, started by the receive button (or a drop of files: an import). It starts the job's worker,
// shows the job's status text and a four-frame animation on a 260 ms timer,
// and closes when the worker is done or the user cancels.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace larkspur::app {

// Sent (synchronously) by the worker to the dialog when the job is done.
inline constexpr UINT WM_RECEIVE_DONE = WM_USER + 1;

// The receive button: opens the dialog and starts a job. While a job runs,
// or a cancelled job's worker has not ended yet, no second job starts: the
// running job's dialog comes to the front, if it is still open.
void receive_command();

// Files or folders dropped on the main window (Shift_JIS paths): an import
// job (job/extended_receive.h) under the same dialog, which shows its counts
// as the status text and whose Cancel stops it; its notice says what it did.
// While a job runs, the drop is refused with the same notice as a second
// receive.
void import_command(std::vector<std::string> paths);

// Puts the open progress dialog back above the main window when the main
// window has come to lie above it (Wine does not always keep owned windows
// above their owner when the owner is activated).
void keep_progress_dialog_on_top();

// For the message loop: keyboard handling of the open progress dialog.
// True when the message was the dialog's and has been handled.
bool progress_dialog_message(MSG& message);

// At the end of the program: a job still running is cancelled and given a
// moment to end. False when its worker is still running after that, so the
// process must end without waiting for it.
bool end_receive_job_at_exit();

}  // namespace larkspur::app
