// larkspur-pop3d: serves a folder of .eml files as a POP3 mailbox, for the
// demo and for end-to-end tests. See usage() for the options.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "tests/pop3server/pop3_test_server.h"

namespace fs = std::filesystem;
using larkspur::testing::Pop3TestMessage;

namespace {

void usage(std::ostream& out) {
  out << "usage: larkspur-pop3d --mailbox DIR [--port N] [--host ADDR]\n"
         "                      [--user U --pass P] [--transcript FILE] [--raw]\n"
         "\n"
         "Serves the *.eml files of DIR (one message per file, in the order of\n"
         "their names) as a POP3 mailbox on ADDR (default 127.0.0.1) and port N\n"
         "(default 0: a free port), one connection at a time, until killed.\n"
         "The port is printed alone on the first line of standard output.\n"
         "\n"
         "  --user U --pass P  accept only this user and password (default: any)\n"
         "  --transcript FILE  append every command line received to FILE\n"
         "  --raw              send the files' bytes as they are; by default a\n"
         "                     line end of LF alone is sent as CR LF\n"
         "\n"
         "Deletions persist: a message deleted by DELE and QUIT is moved into\n"
         "DIR/deleted/, so a later run no longer serves it (move it back to\n"
         "serve it again).\n";
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// LF alone becomes CR LF; a CR LF stays as it is.
std::string crlf_lines(const std::string& data) {
  std::string out;
  out.reserve(data.size() + data.size() / 16);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')) out += '\r';
    out += data[i];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mailbox, transcript;
  larkspur::testing::Pop3TestServerOptions options;
  bool raw = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    } else if (arg == "--mailbox" && has_value) {
      mailbox = argv[++i];
    } else if (arg == "--port" && has_value) {
      options.port = std::atoi(argv[++i]);
    } else if (arg == "--host" && has_value) {
      options.host = argv[++i];
    } else if (arg == "--user" && has_value) {
      options.user = argv[++i];
    } else if (arg == "--pass" && has_value) {
      options.password = argv[++i];
    } else if (arg == "--transcript" && has_value) {
      transcript = argv[++i];
    } else if (arg == "--raw") {
      raw = true;
    } else {
      std::cerr << "larkspur-pop3d: unknown or incomplete option " << arg << "\n";
      usage(std::cerr);
      return 2;
    }
  }
  std::error_code error;
  if (mailbox.empty() || !fs::is_directory(mailbox, error)) {
    std::cerr << "larkspur-pop3d: --mailbox must name a folder\n";
    usage(std::cerr);
    return 2;
  }

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(mailbox, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".eml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  std::vector<Pop3TestMessage> messages;
  for (const auto& file : files) {
    const std::string data = read_all(file);
    messages.push_back({file.filename().string(), raw ? data : crlf_lines(data)});
  }

  std::mutex transcript_mutex;
  if (!transcript.empty()) {
    options.on_command = [&](const std::string& line) {
      std::lock_guard lock(transcript_mutex);
      std::ofstream out(transcript, std::ios::binary | std::ios::app);
      out << line << "\n";
    };
  }
  const fs::path deleted_folder = fs::path(mailbox) / "deleted";
  options.on_delete = [deleted_folder, mailbox](const Pop3TestMessage& message) {
    std::error_code ignored;
    fs::create_directories(deleted_folder, ignored);
    fs::rename(fs::path(mailbox) / message.name, deleted_folder / message.name, ignored);
  };

  larkspur::testing::Pop3TestServer server(std::move(messages), std::move(options));
  if (!server.start()) {
    std::cerr << "larkspur-pop3d: cannot listen\n";
    return 1;
  }
  std::cout << server.port() << std::endl;
  std::cerr << "larkspur-pop3d: serving " << files.size() << " messages of " << mailbox << " on "
            << server.address() << "\n";
  for (;;) larkspur::platform::sleep_ms(60'000);
}
