// larkspur-cli: the headless front end over the same core as the Windows
// program. It works in the current folder (or the one given with -C), takes
// UTF-8 arguments and writes UTF-8 output; inside, every text is Shift_JIS.
// Message boxes of the program are printed as "CAPTION: TEXT" on stderr.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace larkspur::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // refused, answered no, or failed
inline constexpr int kExitUsage = 2;

// Where the tool's text goes and where its answers come from. The real
// console writes to stdout/stderr; tests record.
class Console {
 public:
  virtual ~Console() = default;
  // One piece of standard output / standard error, UTF-8. May be called from
  // the receive worker's thread.
  virtual void out(std::string_view utf8) = 0;
  virtual void err(std::string_view utf8) = 0;
  // Shows `prompt` and reads one line from a terminal; nullopt when standard
  // input is no terminal or ends.
  virtual std::optional<std::string> ask(std::string_view prompt_utf8) = 0;
  // True once the user asked to stop (Ctrl+C); a running receive job is then
  // cancelled.
  virtual bool interrupted() { return false; }
};

// What tests inject; the defaults are the real ones.
struct Environment {
  // The local time that names the logs; empty: the clock.
  std::function<platform::LocalTime()> clock;
  // POP3 time-outs in milliseconds; 0 keeps the client's defaults.
  int connect_timeout_ms = 0;
  int receive_timeout_ms = 0;
  // Bound of one POP3 reply in bytes; 0 keeps the client's default.
  std::size_t max_reply_bytes = 0;
};

// Runs one command line: `args` are the arguments after the program name,
// UTF-8. Returns the exit code.
int run(const std::vector<std::string>& args, Console& console, const Environment& env = {});

// The text of --help.
std::string help_text();

}  // namespace larkspur::cli
