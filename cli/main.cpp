// Entry of larkspur-cli: turns the process's arguments into UTF-8, gives the
// tool the real console, and lets Ctrl+C cancel a running receive job.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/platform.h"

namespace {

volatile std::sig_atomic_t interrupt_requested = 0;

extern "C" void on_interrupt(int) { interrupt_requested = 1; }

class StandardConsole : public larkspur::cli::Console {
 public:
  void out(std::string_view utf8) override { write(stdout, utf8); }
  void err(std::string_view utf8) override { write(stderr, utf8); }

  std::optional<std::string> ask(std::string_view prompt_utf8) override {
    if (!larkspur::platform::stdin_is_terminal()) return std::nullopt;
    write(stderr, prompt_utf8);
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  bool interrupted() override { return interrupt_requested != 0; }

 private:
  // Whole pieces, each flushed at once, so the lines of the worker thread and
  // of the main thread never interleave inside a line.
  void write(std::FILE* stream, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
  }

  std::mutex mutex_;
};

int run_tool(const std::vector<std::string>& args) {
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  StandardConsole console;
  return larkspur::cli::run(args, console);
}

}  // namespace

#ifdef _WIN32
// UTF-16 arguments of wmain, as UTF-8 (an unpaired surrogate becomes U+FFFD).
static std::string wide_to_utf8(const wchar_t* wide) {
  std::string out;
  for (const wchar_t* p = wide; *p; ++p) {
    char32_t c = static_cast<char16_t>(*p);
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(p[1]) - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(wide_to_utf8(argv[i]));
  return run_tool(args);
}
#else
int main(int argc, char** argv) {
  return run_tool(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
