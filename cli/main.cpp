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
  std::u16string utf16;
  for (const wchar_t* p = wide; *p; ++p) utf16 += static_cast<char16_t>(*p);
  return larkspur::platform::utf16_to_utf8_replacing(utf16);
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
