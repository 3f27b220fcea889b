#include "site/site_lock.h"

#include <chrono>
#include <mutex>
#include <utility>

namespace larkspur {
namespace {

std::timed_mutex& site_mutex() {
  static std::timed_mutex mutex;
  return mutex;
}

// The pump of the calling thread; most threads have none.
thread_local std::function<void()> wait_hook;

// Long enough not to spin, short enough that a window waiting for a receive
// job to finish its pages still repaints smoothly.
constexpr std::chrono::milliseconds kPumpInterval{10};

}  // namespace

void set_site_lock_wait_hook(std::function<void()> pump) { wait_hook = std::move(pump); }

SiteLock::SiteLock() {
  std::timed_mutex& mutex = site_mutex();
  if (!wait_hook) {
    mutex.lock();
    return;
  }
  // Copied so a hook that replaces itself cannot destroy the running one.
  const std::function<void()> pump = wait_hook;
  while (!mutex.try_lock()) {
    pump();
    if (mutex.try_lock_for(kPumpInterval)) return;
  }
}

SiteLock::~SiteLock() { site_mutex().unlock(); }

}  // namespace larkspur
