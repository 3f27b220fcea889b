// A UserInterface for tests: answers questions from a script and records
// every message it was shown, in order.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/ui.h"

namespace larkspur::testing {

class ScriptedUi : public UserInterface {
 public:
  // The answers to the next questions, in order (true: Yes).
  explicit ScriptedUi(std::deque<bool> answers = {}) : answers_(std::move(answers)) {}
  ~ScriptedUi() override {
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answers were not asked for";
  }

  bool confirm(const Message& question) override {
    shown_.push_back(question);
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected question: " << question.text;
      return false;
    }
    const bool answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  void notify(const Message& message) override { shown_.push_back(message); }
  void panel_changed() override { ++panel_changes_; }

  const std::vector<Message>& shown() const { return shown_; }
  int panel_changes() const { return panel_changes_; }

 private:
  std::deque<bool> answers_;
  std::vector<Message> shown_;
  int panel_changes_ = 0;
};

}  // namespace larkspur::testing
