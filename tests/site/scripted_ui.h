// A UserInterface for tests: records every call in order and answers the
// questions from a script (No once the script runs out).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "settings/ui.h"

namespace larkspur::testing {

class ScriptedUi : public UserInterface {
 public:
  enum class Kind { confirm, notify, panel_changed };
  struct Call {
    Kind kind;
    Message message;
  };

  std::deque<bool> answers;
  std::vector<Call> calls;
  // Runs inside notify, before it returns (checks what holds at that moment).
  std::function<void(const Message&)> on_notify;

  bool confirm(const Message& question) override {
    calls.push_back({Kind::confirm, question});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void notify(const Message& message) override {
    calls.push_back({Kind::notify, message});
    if (on_notify) on_notify(message);
  }
  void panel_changed() override { calls.push_back({Kind::panel_changed, {}}); }

  // The texts of the notices, in order.
  std::vector<std::string> notices() const {
    std::vector<std::string> texts;
    for (const Call& call : calls) {
      if (call.kind == Kind::notify) texts.push_back(call.message.text);
    }
    return texts;
  }
};

}  // namespace larkspur::testing
