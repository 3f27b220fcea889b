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
  attempt = LockAttempt::unavailable;
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
    if (GetLastError() == ERROR_SHARING_VIOLATION) attempt = LockAttempt::busy;
    return nullptr;
  }
  attempt = LockAttempt::taken;
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
