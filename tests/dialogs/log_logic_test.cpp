#include "dialogs/log_logic.h"

#include <gtest/gtest.h>

#include "settings/store.h"
#include "tests/dialogs/message_texts.h"
#include "tests/support/scripted_ui.h"

namespace larkspur {
namespace {

using namespace larkspur::testing;

class LogLogicTest : public InTempFolder {
 protected:
  void SetUp() override {
    create_working_folders();
    ASSERT_TRUE(write_list("Weekly", ListRecord{"w", 1, 0}));
    ASSERT_TRUE(platform::create_folder("LKset\\Weekly"));
  }
  static void add_log(const std::string& file, const std::string& subject) {
    put_file("LKset\\Weekly\\" + file, log_file_content(subject, "From: a\n\nbody\n"));
  }
  static std::vector<std::string> lines() {
    std::vector<std::string> result;
    for (const LogEntry& log : list_logs("Weekly")) result.push_back(log.first_line);
    return result;
  }
};

TEST_F(LogLogicTest, ListsInPresentationOrderOrANoticeWhenThereAreNone) {
  ASSERT_TRUE(write_list("Another", ListRecord{"a", 1, 0}));
  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  EXPECT_EQ(log_dialog_lists(ui), (std::vector<std::string>{"Weekly", "Another"}));
  EXPECT_TRUE(ui.shown().empty());

  TempFolder empty;
  create_working_folders();
  EXPECT_TRUE(log_dialog_lists(ui).empty());
  EXPECT_EQ(describe(ui.shown()), Shown{kNoListRecords});
}

TEST_F(LogLogicTest, LogsNewestFirstByFirstLine) {
  add_log("20260101000000_1.log", "Vol.1");
  add_log("20260102000000_1.log", sj("第２号"));
  add_log("20260103000000_1.log", "");
  put_file("LKset\\Weekly\\note.txt", "not a log");
  std::vector<LogEntry> logs = list_logs("Weekly");
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0].file_name, "20260103000000_1.log");
  EXPECT_EQ(logs[0].first_line, "");
  EXPECT_EQ(logs[1].first_line, sj("第２号"));
  EXPECT_EQ(logs[2].first_line, "Vol.1");
  EXPECT_TRUE(list_logs("Missing").empty());
}

TEST_F(LogLogicTest, FirstLineAsTheDialogShowsIt) {
  const std::string s254(254, 'a');
  struct Case {
    const char* label;
    std::string content;
    std::string shown;
  } cases[] = {
      {"a log", "Vol.1\n\n\nFrom: a\n", "Vol.1"},
      {"empty subject", "\n\n\nFrom: a\n", ""},
      {"254 bytes and LF", s254 + "\nrest", s254},
      {"255 bytes", s254 + "b\nrest", s254},
      {"far longer", std::string(1000, 'c'), std::string(254, 'c')},
      {"no LF at all", "Vol.1", "Vol.1"},
      {"CR LF keeps the CR", "Vol.1\r\n", "Vol.1\r"},
      {"empty file", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    put_file("LKset\\Weekly\\x.log", c.content);
    EXPECT_EQ(log_first_line("LKset\\Weekly\\x.log"), c.shown);
  }
  EXPECT_EQ(log_first_line("LKset\\Weekly\\missing.log"), "");
}

struct DeleteCase {
  const char* label;
  LogDeleteChoice choice;
  Shown shown;
  std::vector<std::string> remaining;  // first lines left, newest first
  bool refill;
};

TEST_F(LogLogicTest, DeleteByEqualFirstLine) {
  const std::string long_subject = std::string(254, 'L') + "-tail";
  const DeleteCase cases[] = {
      {"both equal logs go, the prefix stays",
       {"Weekly", "Vol.10"},
       {},
       {"Vol.1", "Vol.100", std::string(254, 'L')},
       true},
      {"the shorter subject only matches itself",
       {"Weekly", "Vol.1"},
       {},
       {"Vol.100", "Vol.10", std::string(254, 'L'), "Vol.10"},
       true},
      {"no log selected: a notice", {"Weekly", ""}, {kNoLogSelected}, {}, false},
      {"no log and no list selected", {std::nullopt, ""}, {kNoLogSelected}, {}, false},
      {"no list selected: nothing", {std::nullopt, "Vol.10"}, {}, {}, false},
      {"a long line by its first 254 bytes",
       {"Weekly", std::string(254, 'L')},
       {},
       {"Vol.1", "Vol.100", "Vol.10", "Vol.10"},
       true},
      {"a long line given whole", {"Weekly", long_subject}, {},
       {"Vol.1", "Vol.100", "Vol.10", "Vol.10"}, true},
      {"nothing equal", {"Weekly", "Vol.2"}, {},
       {"Vol.1", "Vol.100", "Vol.10", std::string(254, 'L'), "Vol.10"}, true},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    SetUp();
    add_log("20260101000000_1.log", "Vol.10");
    add_log("20260101000000_2.log", long_subject);
    add_log("20260102000000_1.log", "Vol.10");
    add_log("20260103000000_1.log", "Vol.100");
    add_log("20260104000000_1.log", "Vol.1");
    const std::vector<std::string> before = lines();

    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    LogDeleteResult result = delete_logs(c.choice, ui);
    EXPECT_TRUE(result.rebuild_requested);  // every press asks for the rebuild
    EXPECT_EQ(describe(ui.shown()), c.shown);
    EXPECT_EQ(result.refill_logs, c.refill);
    EXPECT_EQ(lines(), c.refill ? c.remaining : before);
    EXPECT_EQ(result.deleted, static_cast<int>(before.size() - lines().size()));
    EXPECT_EQ(result.matched, result.deleted);
  }
}

TEST_F(LogLogicTest, SecondDeleteOfTheSameLineFindsNothing) {
  add_log("20260101000000_1.log", "Vol.1");
  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  EXPECT_EQ(delete_logs({"Weekly", "Vol.1"}, ui).deleted, 1);
  LogDeleteResult again = delete_logs({"Weekly", "Vol.1"}, ui);
  EXPECT_EQ(again.matched, 0);
  EXPECT_TRUE(again.rebuild_requested);
  EXPECT_TRUE(ui.shown().empty());
}

}  // namespace
}  // namespace larkspur
