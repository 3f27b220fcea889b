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
constexpr int kFileRetryMs = 5;

void lock_mutex(const std::function<void()>& pump) {
  std::timed_mutex& mutex = site_mutex();
  if (!pump) {
    mutex.lock();
    return;
  }
  while (!mutex.try_lock()) {
    pump();
    if (mutex.try_lock_for(kPumpInterval)) return;
  }
}

// The OS lock has no waiting form that could run the pump, so it is tried
// again after each short pause; nullptr when it cannot be had at all.
std::unique_ptr<platform::FileLock> lock_file(const std::function<void()>& pump) {
  for (;;) {
    platform::LockAttempt attempt = platform::LockAttempt::kUnavailable;
    std::unique_ptr<platform::FileLock> lock = platform::try_lock_file(kSiteLockFile, attempt);
    if (attempt != platform::LockAttempt::kBusy) return lock;
    if (pump) pump();
    platform::sleep_ms(kFileRetryMs);
  }
}

}  // namespace

void set_site_lock_wait_hook(std::function<void()> pump) { wait_hook = std::move(pump); }

SiteLock::SiteLock() {
  // Copied so a hook that replaces itself cannot destroy the running one.
  const std::function<void()> pump = wait_hook;
  lock_mutex(pump);
  try {
    file_lock_ = lock_file(pump);
  } catch (...) {
    // A pump may throw (tests use that to probe the lock); the mutex must
    // not stay taken then.
    site_mutex().unlock();
    throw;
  }
}

SiteLock::~SiteLock() {
  file_lock_.reset();
  site_mutex().unlock();
}

}  // namespace larkspur
