// Checks, from inside a UserInterface call, that the site lock is free: a
// message shown while the lock is held could deadlock the program.
#pragma once

#include <stdexcept>

#include "site/site_lock.h"

namespace larkspur::testing {

inline bool site_lock_is_free() {
  struct Busy : std::runtime_error {
    Busy() : std::runtime_error("site lock busy") {}
  };
  set_site_lock_wait_hook([] { throw Busy(); });
  bool free = true;
  try {
    SiteLock lock;
  } catch (const Busy&) {
    free = false;
  }
  set_site_lock_wait_hook({});
  return free;
}

}  // namespace larkspur::testing
