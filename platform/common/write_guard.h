// Keeps two threads of the process from writing the same file at once: both
// would use the same temporary "~<name>.tmp". Writes of different files run
// side by side.
#pragma once

#include <string>
#include <string_view>

namespace larkspur::platform::detail {

class WriteGuard {
 public:
  // Waits until no other thread writes `sjis_path` (compared ignoring ASCII
  // case, as Windows compares names), then holds it until destroyed.
  explicit WriteGuard(std::string_view sjis_path);
  ~WriteGuard();
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  std::string key_;
};

}  // namespace larkspur::platform::detail
