#include "platform/common/write_file.h"

#include "platform/common/names.h"
#include "platform/common/write_guard.h"
#include "platform/platform.h"

namespace larkspur::platform {

namespace detail {

std::string temporary_path(std::string_view path) {
  const SplitPath split = split_path(path);
  if (split.name.empty()) return {};
  // The folder part with its separator, then "~<name>.tmp".
  std::string temp(path.substr(0, path.size() - split.name.size()));
  temp += '~';
  temp.append(split.name);
  temp += ".tmp";
  return temp;
}

}  // namespace detail

namespace {

bool write_via_temporary(std::string_view path, std::string_view data, detail::Replace mode,
                         detail::Flush flush) {
  const std::string temp = detail::temporary_path(path);
  if (temp.empty()) return false;
  // Two threads writing one file would share the temporary file.
  const detail::WriteGuard guard(path);
  return detail::write_and_move(temp, path, data, mode, flush);
}

}  // namespace

bool write_file_atomic(std::string_view path, std::string_view data) {
  return write_via_temporary(path, data, detail::Replace::kAlways, detail::Flush::kToDisk);
}

bool write_file_fast(std::string_view path, std::string_view data) {
  return write_via_temporary(path, data, detail::Replace::kAlways, detail::Flush::kNo);
}

bool write_file_fast_via(std::string_view path, std::string_view temp_path, std::string_view data) {
  if (temp_path.empty()) return false;
  const detail::WriteGuard guard(path);
  return detail::write_and_move(temp_path, path, data, detail::Replace::kAlways, detail::Flush::kNo);
}

bool create_file_exclusive(std::string_view path, std::string_view data) {
  return write_via_temporary(path, data, detail::Replace::kOnlyIfAbsent, detail::Flush::kToDisk);
}

bool create_file_exclusive_deferred(std::string_view path, std::string_view data) {
  return write_via_temporary(path, data, detail::Replace::kOnlyIfAbsent, detail::Flush::kNo);
}

}  // namespace larkspur::platform
