// Clock, file lock and desktop shell on Linux.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace larkspur::platform {

// ------------------------------------------------------------- time

LocalTime local_time() {
  const time_t now = ::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<LocalTime> local_time_at(std::int64_t utc_seconds) {
  const time_t moment = static_cast<time_t>(utc_seconds);
  struct tm parts {};
  if (static_cast<std::int64_t>(moment) != utc_seconds || !::localtime_r(&moment, &parts)) {
    return std::nullopt;
  }
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<LocalTime> file_modified_time(std::string_view path) {
  const auto native = posix::native_path(path);
  struct stat info {};
  if (!native || ::stat(native->c_str(), &info) != 0) return std::nullopt;
  return local_time_at(static_cast<std::int64_t>(info.st_mtime));
}

void sleep_ms(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::int64_t monotonic_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// -------------------------------------------------------- file lock

namespace {

// flock() locks belong to the open file description, so a second open of the
// same file in this process is refused as well (fcntl locks would not be).
class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }  // closing releases the lock

 private:
  const int fd_;
};

}  // namespace

std::unique_ptr<FileLock> try_lock_file(std::string_view path, LockAttempt& attempt) {
  attempt = LockAttempt::kUnavailable;
  const auto native = posix::native_path(path);
  if (!native) return nullptr;
  int fd = ::open(native->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // flock() needs no write access: a lock file left in a folder that is
  // read-only now still serves.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(native->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) attempt = LockAttempt::kBusy;
    ::close(fd);
    return nullptr;
  }
  attempt = LockAttempt::kTaken;
  return std::make_unique<PosixFileLock>(fd);
}

std::unique_ptr<FileLock> try_lock_file(std::string_view path) {
  LockAttempt ignored;
  return try_lock_file(path, ignored);
}

// ------------------------------------------------------------- shell

bool open_with_shell(std::string_view path) {
  const auto native = posix::native_path(path);
  if (!native) return false;
  // Everything the children use is prepared before fork(): after fork() in a
  // threaded process only async-signal-safe calls are allowed.
  const char* const argv[] = {"xdg-open", native->c_str(), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  // Double fork: the grandchild runs xdg-open and is adopted by init, so
  // nobody has to wait for it. It reports a failed exec through the pipe; a
  // successful exec closes the pipe (close-on-exec) without a word.
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execvp(argv[0], const_cast<char* const*>(argv));
      const int error = errno;
      [[maybe_unused]] ssize_t ignored = ::write(report[1], &error, sizeof(error));
      ::_exit(127);
    }
    if (grandchild < 0) {
      const int error = errno;
      [[maybe_unused]] ssize_t ignored = ::write(report[1], &error, sizeof(error));
    }
    ::_exit(0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof(error));
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  return got == 0;
}

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace larkspur::platform
