#include "panel/open_list_page.h"

#include <climits>

#include <gtest/gtest.h>

#include "settings/store.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using namespace larkspur::testing;

class OpenListPageTest : public InTempFolder {
 protected:
  void SetUp() override {
    create_working_folders();
    for (const char* name : {"A", "B", "C"}) {
      ASSERT_TRUE(write_list(name, ListRecord{std::string("search ") + name, 1, 1}));
      ASSERT_TRUE(platform::create_folder(list_folder(name)));
      ASSERT_TRUE(platform::create_folder(list_web_folder(name)));
      if (std::string(name) != "B") put_file(list_web_folder(name) + "\\index.htm", "p");
    }
    refresh_list_panel(table_);  // C, A
  }

  bool open(int slot) {
    return open_list_page(table_, slot, [this](std::string_view path) {
      opened_.emplace_back(path);
      return true;
    });
  }

  ListPanelTable table_;
  std::vector<std::string> opened_;
};

TEST_F(OpenListPageTest, SlotsOutsideTheShownListsDoNothing) {
  // Any int may come in, the extremes too.
  for (int slot : {0, -1, 3, 30, 31, INT_MIN, INT_MAX}) {
    EXPECT_FALSE(open(slot)) << slot;
  }
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(table_.snapshot()[0].new_mail, 1);
  EXPECT_EQ(table_.snapshot()[1].new_mail, 1);
}

TEST_F(OpenListPageTest, ClearsTheMarkInTableAndRecordAndOpensThePage) {
  const std::string before = get_file(list_record_path("A"));
  ASSERT_TRUE(open(2));  // slot 2 is A
  EXPECT_EQ(opened_, std::vector<std::string>{"LKset\\A\\web\\index.htm"});
  EXPECT_EQ(table_.snapshot()[1].new_mail, 0);
  EXPECT_EQ(table_.snapshot()[0].new_mail, 1);  // C keeps its mark
  std::string expected = before;
  expected[ListRecord::kNewMailOffset] = '\0';
  EXPECT_EQ(get_file(list_record_path("A")), expected);

  // The next refill leaves it unmarked.
  refresh_list_panel(table_);
  EXPECT_EQ(table_.snapshot()[1].new_mail, 0);
  EXPECT_EQ(table_.snapshot()[0].new_mail, 1);
}

TEST_F(OpenListPageTest, UnreadableRecordIsNotRewrittenButThePageOpens) {
  // The record went away after the refill, and another list's record became
  // a folder: neither is written.
  ASSERT_TRUE(platform::delete_file(list_record_path("C")));
  ASSERT_TRUE(open(1));
  EXPECT_EQ(get_file(list_record_path("C")), "<missing>");

  ListPanelTable::Slots slots = table_.snapshot();
  slots[1] = {"D", "LKset\\D\\web\\index.htm", 1};
  table_.replace(slots);
  ASSERT_TRUE(platform::create_folder(list_record_path("D")));
  ASSERT_TRUE(open(2));
  EXPECT_TRUE(platform::folder_exists(list_record_path("D")));
  EXPECT_EQ(table_.snapshot()[1].new_mail, 0);
  EXPECT_EQ(opened_, (std::vector<std::string>{"LKset\\C\\web\\index.htm",
                                               "LKset\\D\\web\\index.htm"}));
}

}  // namespace
}  // namespace larkspur
