#include "job/polled_ui.h"

#include <utility>

namespace larkspur {

bool PolledUserInterface::confirm(const Message& question) { return ask({question, true}); }

void PolledUserInterface::notify(const Message& message) { ask({message, false}); }

bool PolledUserInterface::ask(Request request) {
  std::unique_lock lock(mutex_);
  // One worker asks one thing at a time; a second asker waits its turn.
  changed_.wait(lock, [this] { return closed_ || phase_ == Phase::kIdle; });
  if (closed_) return false;
  request_ = std::move(request);
  phase_ = Phase::kWaiting;
  changed_.wait(lock, [this] { return closed_ || phase_ == Phase::kAnswered; });
  const bool yes = phase_ == Phase::kAnswered && answer_;
  phase_ = Phase::kIdle;
  changed_.notify_all();
  return yes;
}

std::optional<PolledUserInterface::Request> PolledUserInterface::take_request() {
  std::lock_guard lock(mutex_);
  if (phase_ != Phase::kWaiting) return std::nullopt;
  // Taken, not answered: a timer tick inside the message box that shows it
  // finds nothing more to show.
  phase_ = Phase::kTaken;
  return request_;
}

void PolledUserInterface::answer(bool yes) {
  {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::kTaken) return;
    answer_ = yes;
    phase_ = Phase::kAnswered;
  }
  changed_.notify_all();
}

void PolledUserInterface::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace larkspur
