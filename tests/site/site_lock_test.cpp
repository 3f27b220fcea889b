#include "site/site_lock.h"

#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "site/list_pages.h"
#include "tests/site/lock_probe.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

TEST(SiteLock, WaitingThreadRunsItsHookUntilTheHolderLetsGo) {
  testing::TempFolder folder;  // for the lock file
  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&] {
    SiteLock lock;
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();

  int pumped = 0;
  set_site_lock_wait_hook([&] {
    if (++pumped == 3) release.set_value();
  });
  {
    SiteLock lock;  // returns only once the holder has let go
    EXPECT_GE(pumped, 3);
  }
  set_site_lock_wait_hook({});
  holder.join();
  EXPECT_TRUE(testing::site_lock_is_free());
}

class SiteLockFile : public testing::InTempFolder {};

TEST_F(SiteLockFile, WaitsForAnotherHolderOfTheFolderLock) {
  // The lock file taken directly stands for another process: the mutex of
  // this one is free, yet the site lock must wait, pumping, until it goes.
  std::unique_ptr<platform::FileLock> other = platform::try_lock_file(kSiteLockFile);
  ASSERT_NE(other, nullptr);
  int pumped = 0;
  set_site_lock_wait_hook([&] {
    if (++pumped == 3) other.reset();
  });
  {
    SiteLock lock;
    EXPECT_GE(pumped, 3);
    EXPECT_EQ(platform::try_lock_file(kSiteLockFile), nullptr);  // held by this process now
  }
  set_site_lock_wait_hook({});
  EXPECT_NE(platform::try_lock_file(kSiteLockFile), nullptr);
  EXPECT_TRUE(platform::find_files("*.*") == std::vector<std::string>{std::string(kSiteLockFile)});
  EXPECT_TRUE(platform::find_files("*.htm").empty() && platform::find_files("*.log").empty() &&
              platform::find_files("*.stf").empty());
}

class SiteLockMessages : public testing::InTempFolder {};

TEST_F(SiteLockMessages, SizeMessageIsShownAfterTheLockIsReleased) {
  platform::create_folder("LKset");
  platform::create_folder("LKset\\W");
  platform::create_folder("LKset\\W\\web");
  testing::put_file("LKset\\W\\web\\menu.htm", "head\n" + std::string(kMaxLinkPageBytes, 'x'));
  testing::put_file("LKset\\W\\1.log", "s\n\n\nbody\n");
  testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
  int shown_free = 0;
  ui.on_notify = [&](const Message&) { shown_free += testing::site_lock_is_free() ? 1 : 0; };
  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(ui.notices().size(), 1u);
  EXPECT_EQ(shown_free, 1);
}

TEST(SiteLock, WorkerAndWindowThreadsTakeTurns) {
  // Two threads updating one folder at once must leave every link exactly once.
  testing::TempFolder folder;
  platform::create_folder("LKset");
  platform::create_folder("LKset\\W");
  std::atomic<bool> go{false};
  auto worker = [&](int first) {
    while (!go) std::this_thread::yield();
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
    for (int i = first; i < first + 40; ++i) {
      testing::put_file("LKset\\W\\" + std::to_string(1000 + i) + ".log", "s\n\n\nb\n");
      update_list_pages("LKset\\W", ui);
    }
  };
  std::thread a(worker, 0);
  std::thread b(worker, 40);
  go = true;
  a.join();
  b.join();
  const std::string menu = testing::get_file("LKset\\W\\web\\menu.htm");
  for (int i = 0; i < 80; ++i) {
    const std::string link = "<A HREF=" + std::to_string(1000 + i) + ".htm ";
    const std::size_t at = menu.find(link);
    EXPECT_NE(at, std::string::npos) << i << "\n" << menu.substr(0, 400);
    EXPECT_EQ(menu.find(link, at + 1), std::string::npos) << i;
  }
}

}  // namespace
}  // namespace larkspur
