// The receive job's pieces that need no mail server: the status texts, the
// subject match that sorts a message into a list, and the storing of a log.
#include "job/sort_and_store.h"

#include <gtest/gtest.h>

#include "job/receive_job.h"
#include "platform/platform.h"
#include "settings/store.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::InTempFolder;
using testing::put_file;
using testing::sj;

// The texts of codes 1 to 15 are checked where larkspur-cli prints them.
TEST(ReceiveStatusText, OnlyCodesOneToFifteenHaveText) {
  const std::string notice = sj("他の新着メールが 3 件ありました");
  for (int status : {0, 16, -1, 1000}) EXPECT_EQ(status_text(status, notice), "") << status;
  ReceiveJobState state;
  EXPECT_EQ(status_text(state), "");
  state.set_notice(notice);
  state.set_status(ReceiveStatus::kNotice);
  EXPECT_EQ(status_text(state), notice);
}

TEST(SubjectMatch, BytewisePrefixOnly) {
  const struct {
    const char* subject;
    const char* search;
    bool match;
  } cases[] = {
      {.subject = "[abc] Vol.1", .search = "[abc]", .match = true},
      {.subject = "[abc] Vol.1", .search = "[abc] Vol.1", .match = true},
      {.subject = "[abc", .search = "[abc]", .match = false},
      {.subject = "Re: [abc] Vol.1", .search = "[abc]", .match = false},
      {.subject = "[ABC] Vol.1", .search = "[abc]", .match = false},
      {.subject = "", .search = "", .match = true},
      {.subject = "anything", .search = "", .match = true},
      {.subject = "【通信】第1号", .search = "【通信】", .match = true},
      {.subject = "【通信】第1号", .search = "【通", .match = true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(subject_matches(sj(c.subject), sj(c.search)), c.match) << c.subject << " / " << c.search;
  }
}

class StoreLog : public InTempFolder {};

TEST_F(StoreLog, NeverReplacesAnExistingLog) {
  create_working_folders();
  platform::create_folder("LKset\\L");
  const platform::LocalTime time{2026, 6, 7, 8, 9, 10};
  put_file("LKset\\L\\20260607080910_1.log", "older");
  put_file("LKset\\L\\20260607080910_2.log", "older too");

  const std::optional<StoredLog> log = store_log("L", time, 1, "Subj", "line\n");
  ASSERT_TRUE(log);
  EXPECT_EQ(log->path, "LKset\\L\\20260607080910_3.log");
  EXPECT_EQ(log->log_number, 3);
  EXPECT_EQ(get_file(log->path), "Subj\n\n\nline\n");
  EXPECT_EQ(get_file("LKset\\L\\20260607080910_1.log"), "older");

  EXPECT_FALSE(store_log("Missing", time, 1, "Subj", "line\n"));
}

}  // namespace
}  // namespace larkspur
