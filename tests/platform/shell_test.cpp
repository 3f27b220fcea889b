// Opening a page with the desktop's default action.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_folder.h"

namespace larkspur::platform {
namespace {

namespace fs = std::filesystem;
using larkspur::testing::sj;

class Shell : public larkspur::testing::InTempFolder {};

#ifndef _WIN32
// The longest wait for the stand-in xdg-open; only reached when it never runs.
constexpr auto kOpenerWait = std::chrono::seconds(10);

// A stand-in xdg-open writes the path it is given into a named pipe, where the
// test reads it as soon as it comes; the call must not wait for it, and a
// missing xdg-open is reported.
TEST_F(Shell, StartsXdgOpenWithTheUtf8Path) {
  fs::create_directory("bin");
  {
    std::ofstream script("bin/xdg-open");
    script << "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n";
  }
  ASSERT_EQ(std::system("mkfifo bin/opened"), 0);
  // Opening the pipe for reading waits for the opener to open it for writing;
  // reading ends when it closes it.
  std::future<std::string> opened_path = std::async(std::launch::async, [] {
    std::ifstream pipe("bin/opened");
    std::string path;
    std::getline(pipe, path);
    return path;
  });
  fs::permissions("bin/xdg-open", fs::perms::owner_all);
  const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (folder_.path() + "/bin:" + saved_path).c_str(), 1);

  EXPECT_TRUE(open_with_shell("LKset\\" + sj("ソ表") + "\\web\\index.htm"));
  if (opened_path.wait_for(kOpenerWait) != std::future_status::ready) {
    // The opener never came: opening the pipe for reading and writing does
    // not wait, and closing it ends the reader's wait with nothing read.
    std::fstream(std::string("bin/opened"), std::ios::in | std::ios::out);
  }
  EXPECT_EQ(opened_path.get(), "LKset/ソ表/web/index.htm");

  ::setenv("PATH", (folder_.path() + "/none").c_str(), 1);
  EXPECT_FALSE(open_with_shell("help\\index.html"));
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_FALSE(open_with_shell("bad\x81"));
}
#else
TEST_F(Shell, ReportsWhatCannotBeOpened) {
  EXPECT_FALSE(open_with_shell("missing.htm"));
  EXPECT_FALSE(open_with_shell("bad\x81"));
}
#endif

}  // namespace
}  // namespace larkspur::platform
