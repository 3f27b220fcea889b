// Clock, file lock and desktop shell on Windows.
#include <windows.h>
#include <shellapi.h>

#include "platform/platform.h"
#include "platform/win32/native_path.h"

namespace larkspur::platform {

// ------------------------------------------------------------- time

LocalTime local_time() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

namespace {

// A moment in UTC as the local time, in the time zone rules of its year.
std::optional<LocalTime> local_of(const FILETIME& utc) {
  SYSTEMTIME system{};
  SYSTEMTIME local{};
  if (!FileTimeToSystemTime(&utc, &system) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
    return std::nullopt;
  }
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace

std::optional<LocalTime> local_time_at(std::int64_t utc_seconds) {
  // FILETIME counts 100 ns from 1601-01-01; 1970 is 11,644,473,600 s later.
  constexpr std::int64_t kEpochDifference = 11644473600;
  constexpr std::int64_t kLatest = 910692730085;  // 30827-12-31, SYSTEMTIME's last year
  if (utc_seconds < -kEpochDifference || utc_seconds > kLatest) return std::nullopt;
  const auto ticks = static_cast<std::uint64_t>(utc_seconds + kEpochDifference) * 10000000u;
  FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  return local_of(utc);
}

std::optional<LocalTime> file_modified_time(std::string_view path) {
  const auto native = win32::native_path(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!native || !GetFileAttributesExW(native->c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return local_of(data.ftLastWriteTime);
}

void sleep_ms(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

// The performance counter rather than GetTickCount64(), whose value moves in
// steps of the timer tick (and under Wine can stand still for longer), which
// would make short time-outs run late.
std::int64_t monotonic_ms() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  const std::int64_t ticks = counter.QuadPart;
  const std::int64_t per_second = frequency.QuadPart;
  return ticks / per_second * 1000 + ticks % per_second * 1000 / per_second;
}

// -------------------------------------------------------- file lock

namespace {

// The lock file is held open with no sharing at all: every other open of it,
// from this process or another, fails until the handle is closed.
class WinFileLock final : public FileLock {
 public:
  explicit WinFileLock(HANDLE handle) : handle_(handle) {}
  ~WinFileLock() override { CloseHandle(handle_); }

 private:
  const HANDLE handle_;
};

}  // namespace

std::unique_ptr<FileLock> try_lock_file(std::string_view path, LockAttempt& attempt) {
  attempt = LockAttempt::kUnavailable;
  const auto native = win32::native_path(path);
  if (!native) return nullptr;
  HANDLE handle = CreateFileW(native->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Exclusion comes from the missing sharing, not from write access: a lock
  // file left in a folder that is read-only now still serves.
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    handle = CreateFileW(native->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) attempt = LockAttempt::kBusy;
    return nullptr;
  }
  attempt = LockAttempt::kTaken;
  return std::make_unique<WinFileLock>(handle);
}

std::unique_ptr<FileLock> try_lock_file(std::string_view path) {
  LockAttempt ignored;
  return try_lock_file(path, ignored);
}

// ------------------------------------------------------------- shell

bool open_with_shell(std::string_view path) {
  const auto native = win32::native_path(path);
  if (!native) return false;
  // Stored paths are relative to the working folder, but the shell looks for
  // a relative name in the program's own folder first; hand it a full path.
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(native->c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameW(native->c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return false;
  full.resize(length);
  const HINSTANCE result =
      ShellExecuteW(nullptr, L"open", full.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecute reports success with a value greater than 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool stdin_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace larkspur::platform
