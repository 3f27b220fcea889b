// The questions and notices of a job's worker, handed to the user-interface
// thread, which looks for them on its own timer (the progress dialog's) and
// shows them itself: the worker never touches a window.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>

#include "settings/ui.h"

namespace larkspur {

// A UserInterface for the worker thread. Each confirm and notify waits until
// the user-interface thread has taken the message up and answered it, so a
// notice is dismissed before the worker sets its next status, as with a
// message box shown on the worker's own thread. One request is outstanding
// at a time.
class PolledUserInterface final : public UserInterface {
 public:
  struct Request {
    Message message;
    bool question = false;  // confirm (Yes and No); else notify (OK)
  };

  // Worker thread. confirm is true only for a Yes; once closed, false at once.
  bool confirm(const Message& question) override;
  // Worker thread; once closed, returns at once and nobody sees the notice.
  void notify(const Message& message) override;
  // Does nothing: the front end redraws its panel when the job ends.
  void panel_changed() override {}

  // User-interface thread: the request waiting to be shown, handed out once;
  // nullopt when none waits or the one handed out is not answered yet.
  std::optional<Request> take_request();
  // User-interface thread: the answer to the request taken (true: Yes; the
  // value is ignored for a notice). The worker goes on.
  void answer(bool yes);
  // Nobody will show anything any more (the program ends): the request
  // waiting, and every later one, is answered No without being shown.
  void close();

 private:
  enum class Phase { kIdle, kWaiting, kTaken, kAnswered };

  // The one request's round trip; the worker holds the lock only while it
  // hands the request over and waits.
  bool ask(Request request);

  std::mutex mutex_;
  std::condition_variable changed_;
  Phase phase_ = Phase::kIdle;
  Request request_;
  bool answer_ = false;
  bool closed_ = false;
};

}  // namespace larkspur
