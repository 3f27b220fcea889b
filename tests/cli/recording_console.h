// A Console for tests: keeps stdout and stderr (UTF-8) and answers questions
// from a script; with no script it behaves as if there were no terminal.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace larkspur::testing {

class RecordingConsole : public cli::Console {
 public:
  std::deque<std::string> answers;  // lines typed at the terminal
  bool terminal = false;
  std::atomic<bool> interrupt{false};

  void out(std::string_view utf8) override {
    std::lock_guard<std::mutex> lock(mutex_);
    out_ += utf8;
  }
  void err(std::string_view utf8) override {
    std::lock_guard<std::mutex> lock(mutex_);
    err_ += utf8;
  }
  std::optional<std::string> ask(std::string_view prompt) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal || answers.empty()) return std::nullopt;
    err_ += prompt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool interrupted() override { return interrupt.load(); }

  std::string out_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string err_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }
  // stdout split into lines (without their LF).
  std::vector<std::string> out_lines() const {
    std::vector<std::string> lines;
    std::string text = out_text();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

 private:
  mutable std::mutex mutex_;
  std::string out_;
  std::string err_;
};

// Runs larkspur-cli in-process with the arguments (UTF-8).
inline int run_cli(RecordingConsole& console, std::vector<std::string> args,
                   const cli::Environment& env = {}) {
  return cli::run(args, console, env);
}

}  // namespace larkspur::testing
