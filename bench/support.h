// What the benchmark programs share: the median of timed runs, the time since
// a start, and a user interface that answers yes and counts the notices.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/ui.h"

namespace larkspur::bench {

using Clock = std::chrono::steady_clock;

// The median of `values`; 0 when there are none.
inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// False, after printing the usage line to stderr, when the command line
// holds fewer than `needed` arguments.
inline bool has_arguments(int argc, char** argv, int needed, const char* usage) {
  if (argc > needed) return true;
  std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
  return false;
}

// The count of runs given as argument `index` of the command line (at least
// one), or `fallback` when the command line stops before it.
inline int runs_argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
}

// Answers yes; counts the notices other than the rebuild's own and prints
// each text once with its count to stderr at the end, so that a notice every
// log (a large archive reaches the link page limit at each) is neither lost
// nor printed thousands of times.
class YesUi : public UserInterface {
 public:
  YesUi() = default;
  YesUi(const YesUi&) = delete;
  YesUi& operator=(const YesUi&) = delete;
  ~YesUi() override {
    for (const auto& [text, count] : notices_) {
      std::fprintf(stderr, "notice shown %d times: %s\n", count, platform::sjis_to_utf8_display(text).c_str());
    }
  }
  bool confirm(const Message&) override { return true; }
  void notify(const Message& message) override {
    if (message.caption != platform::jp("お知らせ") || message.text != platform::jp("全てのHTML文書を再編成しました")) {
      ++notices_[message.text];
    }
  }
  void panel_changed() override {}

 private:
  std::map<std::string, int> notices_;
};

}  // namespace larkspur::bench
