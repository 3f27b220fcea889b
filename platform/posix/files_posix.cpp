// Files, folders and directory search on Linux.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/common/names.h"
#include "platform/common/write_file.h"
#include "platform/common/write_guard.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace larkspur::platform {

namespace {

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (a delayed write
  // error may surface only here).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool is_folder_native(const std::string& native) {
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// An open descriptor for reading a regular file (not a folder), or -1.
int open_for_reading(std::string_view path) {
  const auto native = posix::native_path(path);
  if (!native) return -1;
  const int fd = ::open(native->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

using detail::split_path;
using detail::SplitPath;

}  // namespace

// Writes `data` into `temp_path`, then renames it to `path`.
bool detail::write_and_move(std::string_view temp_path, std::string_view path, std::string_view data,
                            Replace mode, Flush flush) {
  const auto native = posix::native_path(path);
  const auto temp = posix::native_path(temp_path);
  if (!native || !temp) return false;

  // Without replacement, the name is only tested by the rename below: a log
  // name is nearly always free, so testing it first would cost every log a
  // call to save a write now and then.
  Fd fd(::open(temp->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) return false;
  // With Flush::kToDisk the data is on disk before the rename makes it the
  // file's content.
  bool ok = write_all(fd.get(), data) && (flush == Flush::kNo || ::fdatasync(fd.get()) == 0);
  ok = fd.close() && ok;
  bool linked = false;  // the temporary file stays under its name too
  if (ok) {
    if (mode == Replace::kAlways) {
      ok = ::rename(temp->c_str(), native->c_str()) == 0;
    } else {
      // Both fail when the name exists: creation without replacement, even
      // against another process that creates the file meanwhile. link() is
      // for file systems that cannot rename without replacing.
      ok = ::renameat2(AT_FDCWD, temp->c_str(), AT_FDCWD, native->c_str(), RENAME_NOREPLACE) == 0;
      if (!ok && (errno == EINVAL || errno == ENOSYS)) {
        ok = linked = ::link(temp->c_str(), native->c_str()) == 0;
      }
    }
  }
  if (!ok || linked) ::unlink(temp->c_str());
  return ok;
}

// ------------------------------------------------------ directory search

namespace {

// The folder a search pattern lists (native, "." for the working folder) and
// the pattern its names must match; nullopt when either cannot be converted.
struct SearchFolder {
  std::string native;
  std::u16string name_pattern;
};
std::optional<SearchFolder> search_folder(std::string_view pattern) {
  const SplitPath split = split_path(pattern);
  SearchFolder search{".", {}};
  if (!split.folder.empty()) {
    auto native = posix::native_path(split.folder);
    if (!native) return std::nullopt;
    search.native = *native;
  } else if (detail::sjis_last_separator(pattern) == 0) {
    search.native = "/";
  }
  const auto name_pattern_utf8 = sjis_to_utf8(split.name);
  if (!name_pattern_utf8 || split.name.empty()) return std::nullopt;
  auto name_pattern = detail::utf8_to_utf16(*name_pattern_utf8);
  if (!name_pattern) return std::nullopt;
  search.name_pattern = std::move(*name_pattern);
  return search;
}

}  // namespace

std::vector<DirEntry> find_entries(std::string_view pattern) {
  const std::optional<SearchFolder> search = search_folder(pattern);
  if (!search) return {};
  const std::string& folder = search->native;
  const std::u16string& name_pattern = search->name_pattern;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return {};

  // Each name is upper-cased once; comparing (upper-cased, as found) pairs
  // gives the order of ntfs_name_less without folding on every comparison.
  // Both forms of every name go into one buffer, each code unit as two bytes
  // high byte first, so that comparing bytes (memcmp) orders code units: a
  // name costs no allocation but its entry's own.
  struct Found {
    std::size_t at;      // the upper-cased name in `keys`, then the name as found
    std::size_t length;  // bytes of each form
    DirEntry entry;
  };
  std::string keys;
  std::u16string wide;
  std::vector<Found> found;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    // A backslash inside a Linux name would read as a separator later.
    if (name == "." || name == ".." || name.find('\\') != std::string_view::npos) continue;
    // A name the core cannot express is left out, and so is one whose
    // Shift_JIS form would lead back to another name (U+301C WAVE DASH and
    // U+FF5E FULLWIDTH TILDE share one code). ASCII reads the same in all
    // three forms, so such a name needs no conversion.
    std::optional<std::string> sjis;
    if (is_ascii(name)) {
      wide.assign(name.begin(), name.end());
      if (!detail::name_matches(name_pattern, wide)) continue;
      sjis = std::string(name);
    } else {
      auto converted = detail::utf8_to_utf16(name);
      if (!converted || !detail::name_matches(name_pattern, *converted)) continue;
      wide = std::move(*converted);
      sjis = utf8_to_sjis(name);
      if (!sjis || sjis_to_utf8(*sjis) != name) continue;
    }
    // stat() follows links, so a link to a folder counts as a folder, as it
    // would on Windows; the entry's own type is used when it is definite.
    const bool is_folder = item->d_type == DT_DIR ||
                           ((item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) &&
                            is_folder_native(folder + "/" + std::string(name)));
    const std::size_t at = keys.size();
    keys.resize(at + 4 * wide.size());
    char* key = keys.data() + at;
    const auto put = [&key](char16_t unit) {
      *key++ = static_cast<char>(unit >> 8);
      *key++ = static_cast<char>(unit & 0xFF);
    };
    for (const char16_t unit : wide) put(detail::ntfs_upcase(unit));
    for (const char16_t unit : wide) put(unit);
    found.push_back({at, 2 * wide.size(), {std::move(*sjis), is_folder}});
  }
  const std::string_view all = keys;
  std::sort(found.begin(), found.end(), [all](const Found& a, const Found& b) {
    // Bytes compare as unsigned: the order of the code units.
    const int folded = all.substr(a.at, a.length).compare(all.substr(b.at, b.length));
    if (folded != 0) return folded < 0;
    return all.substr(a.at + a.length, a.length) < all.substr(b.at + b.length, b.length);
  });
  std::vector<DirEntry> entries;
  entries.reserve(found.size());
  for (Found& item : found) entries.push_back(std::move(item.entry));
  return entries;
}

// ---------------------------------------------------------------- files

std::optional<std::string> read_file(std::string_view path, std::size_t max_bytes) {
  Fd fd(open_for_reading(path));
  if (!fd.valid()) return std::nullopt;
  // The first read asks for the whole file as it is now and one byte more,
  // so that a regular file comes in one read, without zero-filling a large
  // buffer: a regular file reads short only at its end. Anything else (or a
  // file that grows meanwhile) is read on in chunks until read() gives 0.
  constexpr std::size_t kChunk = 64 * 1024;
  struct stat info {};
  const bool regular = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
  std::size_t next = regular ? static_cast<std::size_t>(info.st_size) + 1 : kChunk;
  std::string data;
  while (data.size() < max_bytes) {
    const std::size_t want = std::min(next, max_bytes - data.size());
    next = kChunk;
    const std::size_t used = data.size();
    data.resize(used + want);
    const ssize_t got = ::read(fd.get(), data.data() + used, want);
    if (got < 0 && errno == EINTR) {
      data.resize(used);
      continue;
    }
    if (got < 0) return std::nullopt;
    data.resize(used + static_cast<std::size_t>(got));
    if (got == 0 || (regular && static_cast<std::size_t>(got) < want)) break;
  }
  return data;
}

namespace {

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  long long read_at(std::uint64_t offset, char* buffer, std::size_t capacity) override {
    std::size_t got = 0;
    while (got < capacity) {
      const ssize_t n = ::pread(fd_.get(), buffer + got, capacity - got,
                                static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
  }

 private:
  Fd fd_;
};

}  // namespace

std::unique_ptr<InputFile> open_input_file(std::string_view path) {
  const int fd = open_for_reading(path);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixInputFile>(fd);
}

bool can_read_file(std::string_view path) {
  Fd fd(open_for_reading(path));
  return fd.valid();
}

bool append_to_file(std::string_view path, std::string_view data) {
  const auto native = posix::native_path(path);
  if (!native) return false;
  Fd fd(::open(native->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (!fd.valid()) return false;
  const bool ok = write_all(fd.get(), data);
  return fd.close() && ok;
}

bool force_to_disk(const std::vector<std::string>& paths) {
  // One syncfs per file system flushes every file of the batch, and the
  // folder entries that name them, in a single pass: far cheaper than an
  // fsync of each file and of each folder. Each file is only looked at for
  // its file system (a batch holds hundreds of files, nearly always on one);
  // a file is opened only to sync a file system not synced yet.
  std::vector<dev_t> synced;
  bool ok = true;
  for (const std::string& path : paths) {
    const auto native = posix::native_path(path);
    struct stat info {};
    if (!native || ::stat(native->c_str(), &info) != 0) {
      ok = false;
      continue;
    }
    if (std::find(synced.begin(), synced.end(), info.st_dev) != synced.end()) continue;
    Fd fd(::open(native->c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid() || ::syncfs(fd.get()) != 0) {
      ok = false;
      continue;
    }
    synced.push_back(info.st_dev);
  }
  return ok;
}

bool write_file_reusing(std::string_view path, std::string_view spare_path, std::string_view data) {
  const auto native = posix::native_path(path);
  const auto spare = posix::native_path(spare_path);
  if (!native || !spare) return false;
  {
    const detail::WriteGuard guard(path);
    struct stat target {};
    const bool exists = ::lstat(native->c_str(), &target) == 0;
    // The target must be a plain file: a link would be exchanged away.
    if (exists && S_ISREG(target.st_mode)) {
      Fd fd(::open(spare->c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
      struct stat info {};
      bool ok = fd.valid() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
      std::size_t at = 0;
      while (ok && at < data.size()) {
        const ssize_t written = ::pwrite(fd.get(), data.data() + at, data.size() - at, static_cast<off_t>(at));
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) at += static_cast<std::size_t>(written);
      }
      ok = ok && ::ftruncate(fd.get(), static_cast<off_t>(data.size())) == 0;
      ok = fd.close() && ok;
      if (ok && ::renameat2(AT_FDCWD, spare->c_str(), AT_FDCWD, native->c_str(), RENAME_EXCHANGE) == 0) {
        return true;
      }
    }
    ::unlink(spare->c_str());
  }
  return detail::write_beside_private(path, spare_path, data);
}

bool delete_file(std::string_view path) {
  const auto native = posix::native_path(path);
  return native && ::unlink(native->c_str()) == 0;
}

bool set_aside(std::string_view path, std::string_view aside_path) {
  // rename() needs what unlink() needs (write access to the folder, the
  // sticky-bit rules), so it is refused exactly where a deletion would be.
  // A folder, which unlink() refuses, is refused here too.
  const auto native = posix::native_path(path);
  const auto aside = posix::native_path(aside_path);
  struct stat info {};
  return native && aside && ::lstat(native->c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
         ::rename(native->c_str(), aside->c_str()) == 0;
}

namespace {

// True when the open file holds exactly `data` (it is `size` bytes long).
bool holds_bytes(int fd, std::size_t size, std::string_view data) {
  if (size != data.size()) return false;
  constexpr std::size_t kChunk = 64 * 1024;
  char buffer[kChunk];
  std::size_t at = 0;
  while (at < data.size()) {
    const ssize_t got = ::pread(fd, buffer, std::min(kChunk, data.size() - at), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || std::string_view(buffer, static_cast<std::size_t>(got)) != data.substr(at, got)) {
      return false;
    }
    at += static_cast<std::size_t>(got);
  }
  return true;
}

// Refills the set-aside file in place; false when it is not a plain file of
// its own or cannot be written, so that a fresh file is made instead. A link
// is never opened (O_NOFOLLOW), and a second hard link would share the bytes.
bool refill_in_place(const std::string& aside, std::string_view data) {
  Fd fd(::open(aside.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    return false;
  }
  if (holds_bytes(fd.get(), static_cast<std::size_t>(info.st_size), data)) return true;
  std::size_t at = 0;
  while (at < data.size()) {
    const ssize_t written = ::pwrite(fd.get(), data.data() + at, data.size() - at, static_cast<off_t>(at));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += static_cast<std::size_t>(written);
  }
  if (static_cast<std::size_t>(info.st_size) != data.size() &&
      ::ftruncate(fd.get(), static_cast<off_t>(data.size())) != 0) {
    return false;
  }
  return fd.close();
}

bool refill_aside(std::string_view aside_path, std::string_view path, std::string_view data) {
  const auto native = posix::native_path(path);
  const auto aside = posix::native_path(aside_path);
  if (!native || !aside) return false;
  if (refill_in_place(*aside, data) && ::rename(aside->c_str(), native->c_str()) == 0) return true;
  ::unlink(aside->c_str());
  return detail::write_beside_private(path, aside_path, data);
}

// True when a deletion of `file` (looked at with statx, not followed) in the
// folder `folder` is sure to succeed, by the kernel's own rules: search and
// write access to the folder, which is neither immutable nor append-only, and
// a file that is not immutable or append-only. Only a plain file of its own,
// owned and writable by us, qualifies, so the sticky bit cannot object and a
// later refill in place behaves as after a rename; anything else is left to
// the sure test (a rename).
bool deletion_is_sure(const std::string& folder, const struct statx& file) {
  constexpr std::uint64_t kBlocking = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if (!S_ISREG(file.stx_mode) || file.stx_nlink != 1 || file.stx_uid != ::geteuid() ||
      (file.stx_mode & S_IWUSR) == 0 || (file.stx_attributes_mask & kBlocking) != kBlocking ||
      (file.stx_attributes & (kBlocking | STATX_ATTR_MOUNT_ROOT)) != 0) {
    return false;
  }
  struct statx dir {};
  return ::statx(AT_FDCWD, folder.c_str(), 0, STATX_TYPE, &dir) == 0 && S_ISDIR(dir.stx_mode) &&
         (dir.stx_attributes_mask & kBlocking) == kBlocking && (dir.stx_attributes & kBlocking) == 0 &&
         ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

FileHold hold_for_replacement(std::string_view path, std::string_view aside_path) {
  const auto native = posix::native_path(path);
  if (!native) return FileHold::kRefused;
  struct statx file {};
  if (::statx(AT_FDCWD, native->c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID,
              &file) != 0 ||
      S_ISDIR(file.stx_mode)) {
    return FileHold::kRefused;
  }
  const std::size_t slash = native->rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native->substr(0, slash);
  if (deletion_is_sure(folder, file)) return FileHold::kInPlace;
  return set_aside(path, aside_path) ? FileHold::kAside : FileHold::kRefused;
}

bool replace_held(FileHold hold, std::string_view path, std::string_view aside_path, std::string_view data) {
  if (hold != FileHold::kInPlace) return refill_aside(aside_path, path, data);
  const auto native = posix::native_path(path);
  if (!native) return false;
  {
    Fd fd(::open(native->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.valid() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
        holds_bytes(fd.get(), static_cast<std::size_t>(info.st_size), data)) {
      return true;
    }
  }
  if (set_aside(path, aside_path)) return refill_aside(aside_path, path, data);
  return detail::write_beside_private(path, aside_path, data);
}

bool is_link(std::string_view path) {
  const auto native = posix::native_path(path);
  struct stat info {};
  return native && ::lstat(native->c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool remove_link(std::string_view path) {
  // unlink() removes a symbolic link itself, never what it points to.
  const auto native = posix::native_path(path);
  struct stat info {};
  return native && ::lstat(native->c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
         ::unlink(native->c_str()) == 0;
}

bool remove_folder(std::string_view path) {
  const auto native = posix::native_path(path);
  return native && ::rmdir(native->c_str()) == 0;
}

bool create_folder(std::string_view path) {
  const auto native = posix::native_path(path);
  if (!native) return false;
  if (::mkdir(native->c_str(), 0777) == 0) return true;
  return errno == EEXIST && is_folder_native(*native);
}

bool folder_exists(std::string_view path) {
  const auto native = posix::native_path(path);
  return native && is_folder_native(*native);
}

std::optional<FileStamp> file_stamp(std::string_view path) {
  const auto native = posix::native_path(path);
  struct stat info {};
  if (!native || ::stat(native->c_str(), &info) != 0) return std::nullopt;
  const auto nanoseconds = [](const timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u + static_cast<std::uint64_t>(time.tv_nsec);
  };
  return FileStamp{static_cast<std::uint64_t>(info.st_size), nanoseconds(info.st_mtim),
                   nanoseconds(info.st_ctim), static_cast<std::uint64_t>(info.st_ino)};
}

bool change_folder(std::string_view path) {
  const auto native = posix::native_path(path);
  return native && ::chdir(native->c_str()) == 0;
}

// ------------------------------------------------ directory search (quick)

bool any_file_matches(std::string_view pattern) {
  const std::optional<SearchFolder> search = search_folder(pattern);
  if (!search) return false;
  const std::string& folder = search->native;
  const std::u16string& name_pattern = search->name_pattern;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return false;
  while (const dirent* item = ::readdir(dir.get())) {
    // The same tests as find_entries, so both agree on what counts.
    const std::string_view name = item->d_name;
    if (name == "." || name == ".." || name.find('\\') != std::string_view::npos) continue;
    auto wide = detail::utf8_to_utf16(name);
    if (!wide || !detail::name_matches(name_pattern, *wide)) continue;
    auto sjis = utf8_to_sjis(name);
    if (!sjis || sjis_to_utf8(*sjis) != name) continue;
    if (!is_folder_native(folder + "/" + std::string(name))) return true;
  }
  return false;
}

// ------------------------------------------ names the directory search omits

std::vector<std::string> find_unlisted_names(std::string_view pattern) {
  const std::optional<SearchFolder> search = search_folder(pattern);
  if (!search) return {};
  const std::string& folder = search->native;
  const std::u16string& name_pattern = search->name_pattern;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return {};
  std::vector<std::string> names;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    // A name that is no UTF-8 is matched with each of its bytes outside
    // ASCII read as U+FFFD, which still tells its extension.
    std::u16string wide;
    if (auto valid = detail::utf8_to_utf16(name)) {
      wide = std::move(*valid);
    } else {
      for (char c : name) wide += static_cast<unsigned char>(c) < 0x80 ? char16_t(c) : u'\uFFFD';
    }
    if (!detail::name_matches(name_pattern, wide)) continue;
    // The tests of find_entries, the other way round.
    bool listed = name.find('\\') == std::string_view::npos;
    if (listed && !is_ascii(name)) {
      const auto sjis = utf8_to_sjis(name);
      listed = sjis && sjis_to_utf8(*sjis) == name;
    }
    if (listed || is_folder_native(folder + "/" + std::string(name))) continue;
    names.push_back(detail::utf16_to_utf8(wide).value_or("?"));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace larkspur::platform
