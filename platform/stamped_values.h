// Values worked out from a file or folder, kept with the stamp the file had
// when the work began, and worked out again only when the stamp differs (see
// FileStamp for what changes one). For a job that looks at the same files
// over and over, most of which nothing changes in between.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

namespace larkspur::platform {

template <typename Value>
class StampedValues {
 public:
  // The value kept under `key` when the file or folder at `path` still has
  // the stamp it had then; otherwise `work_out()`, which is kept. The stamp
  // is taken first: should the file change during the work, the next call
  // sees another stamp and works the value out again. Nothing is kept while
  // the path cannot be looked at.
  template <typename WorkOut>
  Value get(const std::string& key, std::string_view path, WorkOut work_out) {
    const std::optional<FileStamp> stamp = file_stamp(path);
    if (!stamp) {
      values_.erase(key);
      return work_out();
    }
    const auto [entry, added] = values_.try_emplace(key);
    if (added || entry->second.stamp != *stamp) entry->second = Entry{*stamp, work_out()};
    return entry->second.value;
  }

 private:
  struct Entry {
    FileStamp stamp;
    Value value{};
  };
  std::unordered_map<std::string, Entry> values_;
};

}  // namespace larkspur::platform
