// A UserInterface for tests: records every call in order and answers the
// questions from a script.
//
// What happens when a question comes that the script has no answer for is
// chosen when the fake is made:
// - Unscripted::kFail: the question fails the test (and is answered No), and
//   answers left over when the fake is destroyed fail it too; for tests that
//   pin down exactly which questions are asked.
// - Unscripted::kAnswerNo: the question is answered No and recorded like any
//   other; for tests about what follows a question, not about the asking.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "settings/ui.h"

namespace larkspur::testing {

class ScriptedUi : public UserInterface {
 public:
  enum class Unscripted { kFail, kAnswerNo };
  enum class Kind { kConfirm, kNotify, kPanelChanged };
  struct Call {
    Kind kind;
    Message message;  // empty for panel_changed
  };

  // script: the answers to the next questions, in order (true: Yes).
  explicit ScriptedUi(Unscripted unscripted, std::deque<bool> script = {})
      : answers(std::move(script)), unscripted_(unscripted) {}
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;
  ~ScriptedUi() override {
    if (unscripted_ == Unscripted::kFail) {
      EXPECT_TRUE(answers.empty()) << answers.size() << " scripted answers were not asked for";
    }
  }

  // The answers still to give, in order; tests may set or extend it at any time.
  std::deque<bool> answers;
  // Every call, in order.
  std::vector<Call> calls;
  // Runs inside notify, before it returns (checks what holds at that moment).
  std::function<void(const Message&)> on_notify;

  bool confirm(const Message& question) override {
    calls.push_back({Kind::kConfirm, question});
    if (answers.empty()) {
      if (unscripted_ == Unscripted::kFail) ADD_FAILURE() << "unexpected question: " << question.text;
      return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void notify(const Message& message) override {
    calls.push_back({Kind::kNotify, message});
    if (on_notify) on_notify(message);
  }
  void panel_changed() override { calls.push_back({Kind::kPanelChanged, {}}); }

  // The questions and notices shown, in order.
  std::vector<Message> shown() const {
    std::vector<Message> messages;
    for (const Call& call : calls) {
      if (call.kind != Kind::kPanelChanged) messages.push_back(call.message);
    }
    return messages;
  }
  // The texts of the notices, in order.
  std::vector<std::string> notices() const {
    std::vector<std::string> texts;
    for (const Call& call : calls) {
      if (call.kind == Kind::kNotify) texts.push_back(call.message.text);
    }
    return texts;
  }
  int panel_changes() const {
    int count = 0;
    for (const Call& call : calls) count += call.kind == Kind::kPanelChanged ? 1 : 0;
    return count;
  }

 private:
  Unscripted unscripted_;
};

}  // namespace larkspur::testing
