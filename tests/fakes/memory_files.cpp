// The platform layer's file functions over MemoryFiles. Every write is whole
// and at once, so the atomic, fast and exclusive writes differ only in what
// they refuse.
#include "tests/fakes/memory_files.h"

#include <algorithm>
#include <cctype>

#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::fakes {

MemoryFiles& memory_files() {
  static MemoryFiles files;
  return files;
}

}  // namespace larkspur::fakes

namespace larkspur::platform {
namespace {

using fakes::memory_files;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return out;
}

// '*' stands for any run of bytes; everything else matches itself, ignoring
// ASCII case. "*.*" matches every name, as on the real systems.
bool matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  const std::string p = upper(pattern), n = upper(name);
  std::size_t pi = 0, ni = 0, star = std::string::npos, resume = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      resume = ni;
    } else if (pi < p.size() && p[pi] == n[ni]) {
      ++pi;
      ++ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::string folder_of(std::string_view path) { return std::string(detail::split_path(path).folder); }

bool is_folder(std::string_view path) { return memory_files().folders.contains(std::string(path)); }

// A file may be written where its folder exists (or it has none) and no
// folder or locked file stands under its name.
bool writable(std::string_view path) {
  const std::string folder = folder_of(path);
  return (folder.empty() || is_folder(folder)) && !is_folder(path) &&
         !memory_files().locked.contains(std::string(path));
}

// A whole write ends in a rename, as on the real systems, so it replaces a
// link entry under the name instead of writing through it.
bool put(std::string_view path, std::string_view data) {
  if (!writable(path)) return false;
  memory_files().links.erase(std::string(path));
  memory_files().files[std::string(path)] = std::string(data);
  memory_files().writes[std::string(path)] = ++memory_files().last_write;
  return true;
}

std::uint64_t fnv(std::uint64_t hash, std::string_view bytes) {
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3ULL;
  return hash;
}

}  // namespace

std::vector<DirEntry> find_entries(std::string_view pattern) {
  const detail::SplitPath split = detail::split_path(pattern);
  std::vector<DirEntry> entries;
  const auto gather = [&](const auto& paths, bool folders) {
    for (const std::string& path : paths) {
      const detail::SplitPath entry = detail::split_path(path);
      if (entry.folder == split.folder && matches(split.name, entry.name)) {
        entries.push_back({std::string(entry.name), folders});
      }
    }
  };
  std::vector<std::string> file_paths;
  for (const auto& [path, content] : memory_files().files) file_paths.push_back(path);
  gather(file_paths, false);
  gather(memory_files().folders, true);
  for (const auto& [path, to_folder] : memory_files().links) gather(std::vector{path}, to_folder);
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return std::pair(upper(a.name), a.name) < std::pair(upper(b.name), b.name);
  });
  return entries;
}

std::vector<std::string> find_files(std::string_view pattern) {
  std::vector<std::string> names;
  for (DirEntry& entry : find_entries(pattern)) {
    if (!entry.is_folder) names.push_back(std::move(entry.name));
  }
  return names;
}

bool any_file_matches(std::string_view pattern) { return !find_files(pattern).empty(); }

std::optional<std::string> read_file(std::string_view path, std::size_t max_bytes) {
  const auto found = memory_files().files.find(std::string(path));
  if (found == memory_files().files.end()) return std::nullopt;
  return found->second.substr(0, max_bytes);
}

bool can_read_file(std::string_view path) { return memory_files().files.contains(std::string(path)); }

bool write_file_atomic(std::string_view path, std::string_view data) { return put(path, data); }
bool write_file_fast(std::string_view path, std::string_view data) { return put(path, data); }
bool write_file_fast_via(std::string_view path, std::string_view, std::string_view data) {
  return put(path, data);
}

bool create_file_exclusive(std::string_view path, std::string_view data) {
  const std::string key(path);
  return !memory_files().files.contains(key) && !memory_files().links.contains(key) && put(path, data);
}
bool create_file_exclusive_deferred(std::string_view path, std::string_view data) {
  return create_file_exclusive(path, data);
}

bool append_to_file(std::string_view path, std::string_view data) {
  if (memory_files().links.contains(std::string(path))) return false;
  const auto found = memory_files().files.find(std::string(path));
  const std::string old = found == memory_files().files.end() ? std::string() : found->second;
  return put(path, old + std::string(data));
}

bool force_to_disk(const std::vector<std::string>&) { return true; }

bool delete_file(std::string_view path) {
  const std::string key(path);
  if (memory_files().locked.contains(key)) return false;
  memory_files().writes.erase(key);
  return memory_files().files.erase(key) == 1;
}

// A file's stamp is its size and the number of the write that made it; a
// folder's, a digest of its entries' names and stamps, so adding, removing
// or rewriting an entry gives another.
std::optional<FileStamp> file_stamp(std::string_view path) {
  const std::string key(path);
  const auto file = memory_files().files.find(key);
  if (file != memory_files().files.end()) {
    const auto write = memory_files().writes.find(key);
    return FileStamp{file->second.size(), write == memory_files().writes.end() ? 0 : write->second,
                     0, 0};
  }
  if (!is_folder(key)) return std::nullopt;
  std::uint64_t digest = 0xcbf29ce484222325ULL;
  for (const DirEntry& entry : find_entries(key + "\\*.*")) {
    digest = fnv(digest, entry.name);
    if (const auto stamp = file_stamp(key + "\\" + entry.name)) {
      digest = fnv(digest, std::to_string(stamp->size) + ":" + std::to_string(stamp->modified));
    }
  }
  return FileStamp{0, digest, 0, 0};
}

bool is_link(std::string_view path) { return memory_files().links.contains(std::string(path)); }
bool remove_link(std::string_view path) { return memory_files().links.erase(std::string(path)) == 1; }

bool create_folder(std::string_view path) {
  const std::string key(path);
  if (is_folder(key)) return true;
  const std::string folder = folder_of(path);
  if (memory_files().files.contains(key) || memory_files().links.contains(key) ||
      (!folder.empty() && !is_folder(folder))) {
    return false;
  }
  memory_files().folders.insert(key);
  return true;
}

bool folder_exists(std::string_view path) {
  const auto link = memory_files().links.find(std::string(path));
  return is_folder(path) || (link != memory_files().links.end() && link->second);
}

bool remove_folder(std::string_view path) {
  const std::string key(path);
  if (!is_folder(key) || !find_entries(key + "\\*.*").empty()) return false;
  const std::string inside = key + "\\";
  for (const auto& [link, to_folder] : memory_files().links) {
    if (link.starts_with(inside)) return false;
  }
  return memory_files().folders.erase(key) == 1;
}

}  // namespace larkspur::platform
