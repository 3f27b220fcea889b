// Opening a page with the desktop's default action.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_folder.h"

namespace larkspur::platform {
namespace {

namespace fs = std::filesystem;
using larkspur::testing::sj;

class Shell : public larkspur::testing::InTempFolder {};

#ifndef _WIN32
// A stand-in xdg-open records the path it is given; the call must not wait
// for it, and a missing xdg-open is reported.
TEST_F(Shell, StartsXdgOpenWithTheUtf8Path) {
  fs::create_directory("bin");
  {
    std::ofstream script("bin/xdg-open");
    script << "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened.tmp\"\n"
              "mv \"$(dirname \"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened\"\n";
  }
  fs::permissions("bin/xdg-open", fs::perms::owner_all);
  const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (folder_.path() + "/bin:" + saved_path).c_str(), 1);

  EXPECT_TRUE(open_with_shell("LKset\\" + sj("ソ表") + "\\web\\index.htm"));
  // Bounded polling: the opener runs detached.
  std::string opened;
  for (int i = 0; i < 500 && opened.empty(); ++i) {
    std::ifstream file("bin/opened");
    std::getline(file, opened);
    if (opened.empty()) sleep_ms(10);
  }
  EXPECT_EQ(opened, "LKset/ソ表/web/index.htm");

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
