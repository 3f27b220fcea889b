#include "platform/common/write_guard.h"

#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/common/names.h"

namespace larkspur::platform::detail {

namespace {

struct BusyPaths {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> paths;
};

BusyPaths& busy_paths() {
  static BusyPaths busy;
  return busy;
}

// The path with single-byte ASCII letters upper-cased; the bytes of
// double-byte characters are kept (their trail byte may look like a letter).
std::string folded(std::string_view sjis) {
  std::string key(sjis);
  std::size_t at = 0;
  while (at < key.size()) {
    const auto byte = static_cast<unsigned char>(key[at]);
    const std::size_t length = sjis_char_length(byte);
    if (length == 1 && byte >= 'a' && byte <= 'z') key[at] = static_cast<char>(byte - 'a' + 'A');
    if (key[at] == '/') key[at] = '\\';
    at += length;
  }
  return key;
}

}  // namespace

WriteGuard::WriteGuard(std::string_view sjis_path) : key_(folded(sjis_path)) {
  BusyPaths& busy = busy_paths();
  std::unique_lock lock(busy.mutex);
  busy.released.wait(lock, [&] { return busy.paths.count(key_) == 0; });
  busy.paths.insert(key_);
}

WriteGuard::~WriteGuard() {
  BusyPaths& busy = busy_paths();
  {
    std::lock_guard lock(busy.mutex);
    busy.paths.erase(key_);
  }
  busy.released.notify_all();
}

}  // namespace larkspur::platform::detail
