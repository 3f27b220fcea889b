// The site lock: one process-wide lock that keeps a receive job (worker
// thread) and a full rebuild (user-interface thread) from writing the same web
// folder at once. update_list_pages, sort_link_pages and each pass of
// rebuild_site hold it while they read and write pages.
//
// Contract:
// - Holders never show a message (UserInterface::confirm/notify) while they
//   hold the lock: messages are queued and shown after it is released. So a
//   worker that marshals a message to the window never waits for a window that
//   waits for the lock.
// - The lock is not re-entrant: code that holds it calls only the internal
//   "_locked" forms of the site operations.
// - A thread that registered a wait hook never blocks on the lock without
//   running the hook: while the lock is taken elsewhere, the hook is called
//   again and again (with waits of a few milliseconds between attempts). The
//   Win32 shell registers a message pump on its user-interface thread, so the
//   window keeps painting while a receive job finishes its pages. A thread
//   without a hook simply blocks until the lock is free.
#pragma once

#include <functional>

namespace larkspur {

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
};

}  // namespace larkspur
