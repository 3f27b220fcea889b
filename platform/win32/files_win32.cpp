// Files, folders and directory search on Windows, through the W functions.
#include <windows.h>

#include <algorithm>

#include "platform/common/names.h"
#include "platform/common/write_file.h"
#include "platform/common/write_guard.h"
#include "platform/platform.h"
#include "platform/win32/native_path.h"

namespace larkspur::platform {

namespace {

// A file handle closed when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
  }

 private:
  HANDLE handle_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool is_folder_native(const std::wstring& native) {
  const DWORD attributes = GetFileAttributesW(native.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A handle for reading a file. Readers share delete access, so that an atomic
// replacement of the file by another thread is not refused while they read.
HANDLE open_for_reading(std::string_view path) {
  const auto native = win32::native_path(path);
  if (!native) return INVALID_HANDLE_VALUE;
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened.
  return CreateFileW(native->c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

using detail::Flush;
using detail::Replace;
using detail::split_path;
using detail::SplitPath;

// Moving a file over another fails for a moment while someone (a virus
// scanner, the browser showing the page) holds the target open; such a
// failure is retried briefly before it counts.
bool move_into_place(const std::wstring& temp, const std::wstring& target, Replace mode,
                     Flush flush) {
  constexpr int kAttempts = 25;  // half a second in all
  constexpr DWORD kPauseMs = 20;
  const DWORD flags = (flush == Flush::kToDisk ? MOVEFILE_WRITE_THROUGH : 0) |
                      (mode == Replace::kAlways ? MOVEFILE_REPLACE_EXISTING : 0);
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(temp.c_str(), target.c_str(), flags)) return true;
    const DWORD error = GetLastError();
    if (attempt == kAttempts ||
        (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
         error != ERROR_LOCK_VIOLATION)) {
      return false;
    }
    if (is_folder_native(target)) return false;  // access denied for good
    Sleep(kPauseMs);
  }
}

}  // namespace

// Writes `data` into `temp_path`, then moves it to `path`.
bool detail::write_and_move(std::string_view temp_path, std::string_view path, std::string_view data,
                            Replace mode, Flush flush) {
  const auto native = win32::native_path(path);
  const auto temp = win32::native_path(temp_path);
  if (!native || !temp) return false;

  if (is_folder_native(*native)) return false;
  // A name that is taken already is refused by the move itself (no
  // MOVEFILE_REPLACE_EXISTING), so it is not looked up first: a new log's
  // name is nearly always free.
  Handle file(CreateFileW(temp->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  // With Flush::kToDisk the data is on disk before the move makes it the
  // file's content.
  bool ok = write_all(file.get(), data) &&
            (flush == Flush::kNo || FlushFileBuffers(file.get()));
  ok = file.close() && ok;
  ok = ok && move_into_place(*temp, *native, mode, flush);
  if (!ok) DeleteFileW(temp->c_str());
  return ok;
}

// ------------------------------------------------------ directory search

namespace {

// What a search pattern lists ("<folder>\\*", every entry) and the pattern
// its names must match; nullopt when either cannot be converted.
struct SearchTarget {
  std::wstring search;
  std::u16string name_pattern;
};
std::optional<SearchTarget> search_target(std::string_view pattern) {
  const SplitPath split = split_path(pattern);
  if (split.name.empty()) return std::nullopt;
  SearchTarget target;
  if (!split.folder.empty()) {
    auto folder = win32::native_path(split.folder);
    if (!folder) return std::nullopt;
    target.search = *folder + L"\\*";
  } else if (detail::sjis_last_separator(pattern) == 0) {
    target.search = L"\\*";
  } else {
    target.search = L"*";
  }
  const auto name_pattern_wide = sjis_to_wide(split.name);
  if (!name_pattern_wide) return std::nullopt;
  target.name_pattern = win32::to_u16(*name_pattern_wide);
  return target;
}

}  // namespace

std::vector<DirEntry> find_entries(std::string_view pattern) {
  const std::optional<SearchTarget> target = search_target(pattern);
  if (!target) return {};
  const std::wstring& search = target->search;
  const std::u16string& name_pattern = target->name_pattern;

  // Every entry is listed and matched here rather than by the system's
  // wildcard, which also looks at 8.3 aliases: "X~1.STF" of "x.stfx" would
  // make "*.stf" report "x.stfx".
  WIN32_FIND_DATAW data{};
  FindHandle find(FindFirstFileExW(search.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find.valid()) return {};

  struct Found {
    std::u16string key;
    DirEntry entry;
  };
  std::vector<Found> found;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::u16string key = win32::to_u16(name);
    if (!detail::name_matches(name_pattern, key)) continue;
    // A name the core cannot express is left out, and so is one whose
    // Shift_JIS form would lead back to another name.
    auto sjis = wide_to_sjis(name);
    if (!sjis || sjis_to_wide(*sjis) != name) continue;
    const bool is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.push_back({std::move(key), {std::move(*sjis), is_folder}});
  } while (FindNextFileW(find.get(), &data));

  // NTFS gives this order already; sorting makes it the same on every file
  // system (FAT, network shares, Wine).
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return detail::ntfs_name_less(a.key, b.key);
  });
  std::vector<DirEntry> entries;
  entries.reserve(found.size());
  for (Found& item : found) entries.push_back(std::move(item.entry));
  return entries;
}

// ---------------------------------------------------------------- files

std::optional<std::string> read_file(std::string_view path, std::size_t max_bytes) {
  Handle file(open_for_reading(path));
  if (!file.valid()) return std::nullopt;
  std::string data;
  constexpr std::size_t kChunk = 64 * 1024;
  while (data.size() < max_bytes) {
    const std::size_t want = std::min(kChunk, max_bytes - data.size());
    const std::size_t used = data.size();
    data.resize(used + want);
    DWORD got = 0;
    if (!ReadFile(file.get(), data.data() + used, static_cast<DWORD>(want), &got, nullptr)) {
      return std::nullopt;
    }
    data.resize(used + got);
    if (got == 0) break;
  }
  return data;
}

namespace {

class WinInputFile final : public InputFile {
 public:
  explicit WinInputFile(HANDLE handle) : handle_(handle) {}
  long long read_at(std::uint64_t offset, char* buffer, std::size_t capacity) override {
    std::size_t got = 0;
    while (got < capacity) {
      OVERLAPPED at{};
      const std::uint64_t from = offset + got;
      at.Offset = static_cast<DWORD>(from & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(from >> 32);
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(capacity - got, 1u << 30));
      DWORD read = 0;
      if (!ReadFile(handle_.get(), buffer + got, chunk, &read, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return -1;
      }
      if (read == 0) break;
      got += read;
    }
    return static_cast<long long>(got);
  }

 private:
  Handle handle_;
};

}  // namespace

std::unique_ptr<InputFile> open_input_file(std::string_view path) {
  const HANDLE handle = open_for_reading(path);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return std::make_unique<WinInputFile>(handle);
    }
  }
  CloseHandle(handle);
  return nullptr;
}

bool can_read_file(std::string_view path) {
  Handle file(open_for_reading(path));
  return file.valid();
}

bool append_to_file(std::string_view path, std::string_view data) {
  const auto native = win32::native_path(path);
  if (!native || is_folder_native(*native)) return false;
  Handle file(CreateFileW(native->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  const bool ok = write_all(file.get(), data);
  return file.close() && ok;
}

bool force_to_disk(const std::vector<std::string>& paths) {
  bool ok = true;
  for (const std::string& path : paths) {
    const auto native = win32::native_path(path);
    Handle file(native ? CreateFileW(native->c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE);
    ok = file.valid() && FlushFileBuffers(file.get()) && ok;
  }
  return ok;
}

bool write_file_reusing(std::string_view path, std::string_view spare_path, std::string_view data) {
  // Windows has no exchange of two names in one step; a spare left by a
  // Linux run of the same folder is of no use here.
  if (const auto spare = win32::native_path(spare_path)) DeleteFileW(spare->c_str());
  return detail::write_beside_private(path, spare_path, data);
}

bool delete_file(std::string_view path) {
  const auto native = win32::native_path(path);
  return native && DeleteFileW(native->c_str());
}

bool set_aside(std::string_view path, std::string_view aside_path) {
  const auto native = win32::native_path(path);
  const auto aside = win32::native_path(aside_path);
  if (!native || !aside) return false;
  // DeleteFile refuses a read-only file, MoveFileEx would move it: refuse it
  // here as well. Sharing (a program holding the page open without delete
  // sharing) stops both alike.
  const DWORD attributes = GetFileAttributesW(native->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  return MoveFileExW(native->c_str(), aside->c_str(), MOVEFILE_REPLACE_EXISTING);
}

namespace {

bool holds_bytes(HANDLE file, std::string_view data) {
  constexpr DWORD kChunk = 64 * 1024;
  std::string buffer(kChunk, '\0');
  std::size_t at = 0;
  while (at < data.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kChunk, data.size() - at));
    if (!ReadFile(file, buffer.data(), want, &got, nullptr) || got == 0) return false;
    if (std::string_view(buffer.data(), got) != data.substr(at, got)) return false;
    at += got;
  }
  return true;
}

// Refills the set-aside file in place; false when it is not a plain file of
// its own (a reparse point is opened as itself and refused, a second hard
// link would share the bytes) or cannot be written.
bool refill_in_place(const std::wstring& aside, std::string_view data) {
  Handle file(CreateFileW(aside.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY |
                                FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size == data.size() && holds_bytes(file.get(), data)) return true;
  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  return write_all(file.get(), data) && SetEndOfFile(file.get()) && file.close();
}

bool refill_aside(std::string_view aside_path, std::string_view path, std::string_view data) {
  const auto native = win32::native_path(path);
  const auto aside = win32::native_path(aside_path);
  if (!native || !aside) return false;
  if (refill_in_place(*aside, data) && move_into_place(*aside, *native, Replace::kAlways, Flush::kNo)) {
    return true;
  }
  DeleteFileW(aside->c_str());
  return detail::write_beside_private(path, aside_path, data);
}

}  // namespace

FileHold hold_for_replacement(std::string_view path, std::string_view aside_path) {
  // Whether a deletion would succeed (sharing, access rights) is only sure
  // by trying: the file is always set aside.
  return set_aside(path, aside_path) ? FileHold::kAside : FileHold::kRefused;
}

bool replace_held(FileHold, std::string_view path, std::string_view aside_path, std::string_view data) {
  // Nothing is ever held in place here (see hold_for_replacement).
  return refill_aside(aside_path, path, data);
}

bool is_link(std::string_view path) {
  const auto native = win32::native_path(path);
  if (!native) return false;
  const DWORD attributes = GetFileAttributesW(native->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool remove_link(std::string_view path) {
  const auto native = win32::native_path(path);
  if (!native) return false;
  const DWORD attributes = GetFileAttributesW(native->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  // A reparse point on a folder (junction, folder symbolic link) goes with
  // RemoveDirectory, which removes the point itself whatever its target
  // holds; one on a file goes with DeleteFile, which does not follow it.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryW(native->c_str());
  return DeleteFileW(native->c_str());
}

bool remove_folder(std::string_view path) {
  const auto native = win32::native_path(path);
  return native && RemoveDirectoryW(native->c_str());
}

bool create_folder(std::string_view path) {
  const auto native = win32::native_path(path);
  if (!native) return false;
  if (CreateDirectoryW(native->c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && is_folder_native(*native);
}

bool folder_exists(std::string_view path) {
  const auto native = win32::native_path(path);
  return native && is_folder_native(*native);
}

std::optional<FileStamp> file_stamp(std::string_view path) {
  const auto native = win32::native_path(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!native || !GetFileAttributesExW(native->c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  const auto join = [](DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; };
  return FileStamp{join(data.nFileSizeHigh, data.nFileSizeLow),
                   join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime),
                   join(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime), 0};
}

bool change_folder(std::string_view path) {
  const auto native = win32::native_path(path);
  return native && SetCurrentDirectoryW(native->c_str());
}

// ------------------------------------------------ directory search (quick)

bool any_file_matches(std::string_view pattern) {
  const std::optional<SearchTarget> target = search_target(pattern);
  if (!target) return false;
  const std::wstring& search = target->search;
  const std::u16string& name_pattern = target->name_pattern;

  // Matched here, as in find_entries, not by the system's wildcard (which
  // would also match 8.3 aliases).
  WIN32_FIND_DATAW data{};
  FindHandle find(FindFirstFileExW(search.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find.valid()) return false;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (!detail::name_matches(name_pattern, win32::to_u16(name))) continue;
    auto sjis = wide_to_sjis(name);
    if (!sjis || sjis_to_wide(*sjis) != name) continue;
    return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}


// ------------------------------------------ names the directory search omits

std::vector<std::string> find_unlisted_names(std::string_view pattern) {
  const std::optional<SearchTarget> target = search_target(pattern);
  if (!target) return {};
  const std::wstring& search = target->search;
  const std::u16string& name_pattern = target->name_pattern;

  WIN32_FIND_DATAW data{};
  FindHandle find(FindFirstFileExW(search.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find.valid()) return {};
  std::vector<std::string> names;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::u16string key = win32::to_u16(name);
    if (!detail::name_matches(name_pattern, key)) continue;
    // The test of find_entries, the other way round.
    const auto sjis = wide_to_sjis(name);
    if (sjis && sjis_to_wide(*sjis) == name) continue;
    names.push_back(detail::utf16_to_utf8(key).value_or("?"));
  } while (FindNextFileW(find.get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace larkspur::platform
