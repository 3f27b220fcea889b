// The site lock: one lock per working folder that keeps every writer of web
// folders apart, within a process (a receive job's worker thread and a full
// rebuild on the user-interface thread) and across processes (the window, the
// command-line tool, any number of each). update_list_pages, sort_link_pages
// and each pass of rebuild_site hold it while they read and write pages.
//
// It is a process-wide mutex plus an OS lock on kSiteLockFile in the working
// folder, taken in that order; the OS releases the file lock of a process that
// dies. Where that file cannot be made at all (a read-only working folder),
// the mutex alone is held: waiting for the file would never end.
//
// Contract:
// - Holders never show a message (UserInterface::confirm/notify) while they
//   hold the lock: messages are queued and shown after it is released. So a
//   worker waiting for the window to show a message never holds the lock the
//   window may be waiting for.
// - The lock is not re-entrant: code that holds it calls only the internal
//   "_locked" forms of the site operations.
// - A thread that registered a wait hook never blocks on the lock without
//   running the hook: while the lock is taken elsewhere, the hook is called
//   again and again (with waits of a few milliseconds between attempts). The
//   Win32 shell registers a message pump on its user-interface thread, so the
//   window keeps painting while a receive job (of this or another process)
//   finishes its pages. A thread without a hook simply waits until the lock is
//   free.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace larkspur {

// The lock file in the working folder; "~" and ".lock" keep every search
// pattern of the system ("*.stf", "*.log", "*.htm") from matching it.
inline constexpr std::string_view kSiteLockFile = "~site.lock";

// Registers `pump` for the calling thread (an empty function removes it).
// The hook must not take the site lock itself; it may run any window message,
// including one that starts another site operation (that one waits in turn).
void set_site_lock_wait_hook(std::function<void()> pump);

// Holds the site lock for its lifetime.
class SiteLock {
 public:
  SiteLock();
  ~SiteLock();
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;

 private:
  std::unique_ptr<platform::FileLock> file_lock_;
};

}  // namespace larkspur
