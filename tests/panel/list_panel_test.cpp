#include "panel/list_panel.h"

#include <gtest/gtest.h>

#include <functional>

#include "settings/store.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::put_file;
using testing::sj;

class ListPanelTest : public testing::InTempFolder {
 protected:
  void SetUp() override { create_working_folders(); }

  // A registered list; with_page gives its web folder one ".htm" file.
  static void add_list(const std::string& name, std::int32_t new_mail, bool with_page) {
    ASSERT_TRUE(write_list(name, ListRecord{"s", 1, new_mail}));
    ASSERT_TRUE(platform::create_folder(list_folder(name)));
    ASSERT_TRUE(platform::create_folder(list_web_folder(name)));
    if (with_page) put_file(list_web_folder(name) + "\\menu.htm", "<html>");
  }

  // A table whose every slot is taken by stale content.
  static void fill_stale(ListPanelTable& table) {
    ListPanelTable::Slots stale;
    for (ListPanelSlot& slot : stale) slot = {"stale", "stale\\web\\index.htm", 1};
    table.replace(stale);
  }

  ListPanelTable table_;
};

struct PanelCase {
  const char* label;
  // Lists as (name, new_mail, has page), created in this order.
  std::vector<std::tuple<std::string, int, bool>> lists;
  // Expected slots from 0: (name, mark).
  std::vector<std::pair<std::string, int>> shown;
};

TEST_F(ListPanelTest, RefillFollowsPresentationOrderAndSkipsListsWithoutPages) {
  const PanelCase cases[] = {
      {"nothing registered", {}, {}},
      {"reverse of the search order",
       {{"X", 0, true}, {"Y", 0, true}, {"Z", 0, true}},
       {{"Z", 0}, {"Y", 0}, {"X", 0}}},
      {"a list without pages is left out and the rest move up",
       {{"X", 0, true}, {"Y", 1, false}, {"Z", 0, true}},
       {{"Z", 0}, {"X", 0}}},
      {"marks are copied from the records",
       {{"A", 1, true}, {"B", 0, true}, {"C", 7, true}},
       {{"C", 7}, {"B", 0}, {"A", 1}}},
      {"no list with pages", {{"A", 1, false}}, {}},
  };
  for (const PanelCase& c : cases) {
    SCOPED_TRACE(c.label);
    testing::TempFolder folder;  // each case in a fresh working folder
    create_working_folders();
    for (const auto& [name, mail, page] : c.lists) add_list(name, mail, page);
    fill_stale(table_);

    refresh_list_panel(table_);
    ListPanelTable::Slots slots = table_.snapshot();
    ASSERT_EQ(table_.shown_count(), static_cast<int>(c.shown.size()));
    for (std::size_t i = 0; i < slots.size(); ++i) {
      SCOPED_TRACE(i);
      if (i < c.shown.size()) {
        EXPECT_EQ(slots[i].list_name, c.shown[i].first);
        EXPECT_EQ(slots[i].page_path, list_index_page(c.shown[i].first));
        EXPECT_EQ(slots[i].new_mail, c.shown[i].second);
      } else {  // every slot beyond is cleared
        EXPECT_EQ(slots[i].list_name, "");
        EXPECT_EQ(slots[i].page_path, "");
        EXPECT_EQ(slots[i].new_mail, 0);
      }
    }
  }
}

// What in a web folder makes a list shown: any ".htm" file, found either by
// the quick look at the index page or by searching the folder.
TEST_F(ListPanelTest, ShownWhenTheWebFolderHoldsAnyPage) {
  struct Case {
    const char* label;
    std::vector<std::string> files;    // in the web folder
    std::vector<std::string> folders;  // in the web folder
    bool shown;
  };
  const Case cases[] = {
      {"only the index page", {"index.htm"}, {}, true},
      {"only another page", {"0001.htm"}, {}, true},
      {"a page named in capitals", {"MENU.HTM"}, {}, true},
      {"an index page that is a folder", {}, {"index.htm"}, false},
      {"an index folder beside a page", {"a.htm"}, {"index.htm"}, true},
      {"other extensions only", {"index.html", "a.txt", "b.htmx"}, {}, false},
      {"empty web folder", {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    testing::TempFolder folder;
    create_working_folders();
    add_list("A", 0, false);
    for (const std::string& file : c.files) put_file(list_web_folder("A") + "\\" + file, "x");
    for (const std::string& sub : c.folders) {
      ASSERT_TRUE(platform::create_folder(list_web_folder("A") + "\\" + sub));
    }
    refresh_list_panel(table_);
    EXPECT_EQ(table_.shown_count(), c.shown ? 1 : 0);
  }
}

TEST_F(ListPanelTest, UnreadableOrEmptyRecordGivesMarkZero) {
  add_list("A", 1, true);
  put_file(list_record_path("A"), "");  // 0 bytes: all zero
  refresh_list_panel(table_);
  ASSERT_EQ(table_.shown_count(), 1);
  EXPECT_EQ(table_.snapshot()[0].new_mail, 0);
}

TEST_F(ListPanelTest, MoreThanThirtyRecordsTakeTheFirstThirtyInSearchOrder) {
  for (int i = 0; i < 33; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "L%02d", i);
    add_list(name, 0, true);
  }
  refresh_list_panel(table_);
  ListPanelTable::Slots slots = table_.snapshot();
  EXPECT_EQ(table_.shown_count(), 30);
  EXPECT_EQ(slots[0].list_name, "L29");
  EXPECT_EQ(slots[29].list_name, "L00");
}

TEST_F(ListPanelTest, JapaneseNameGetsItsPagePath) {
  const std::string name = sj("ソポ表");
  add_list(name, 1, true);
  refresh_list_panel(table_);
  ASSERT_EQ(table_.shown_count(), 1);
  EXPECT_EQ(table_.snapshot()[0].list_name, name);
  EXPECT_EQ(table_.snapshot()[0].page_path, sj("LKset\\ソポ表\\web\\index.htm"));
}

TEST_F(ListPanelTest, ClearShownMarkOnlyForShownSlots) {
  add_list("A", 1, true);
  refresh_list_panel(table_);
  EXPECT_FALSE(table_.clear_shown_mark(1).has_value());
  EXPECT_FALSE(table_.clear_shown_mark(-1).has_value());
  std::optional<ListPanelSlot> slot = table_.clear_shown_mark(0);
  ASSERT_TRUE(slot.has_value());
  EXPECT_EQ(slot->list_name, "A");
  EXPECT_EQ(slot->new_mail, 1);  // as it was
  EXPECT_EQ(table_.snapshot()[0].new_mail, 0);
}

// The refresher a receive job keeps across its logs must fill the table as a
// fresh refresh would after every kind of change between two of its calls.
TEST_F(ListPanelTest, RefresherFollowsEveryChangeBetweenRefreshes) {
  ListRecordCache records;
  ListNamesCache names;
  ListPanelRefresher refresher(records, names);
  ListPanelTable fresh;
  add_list("A", 0, true);
  add_list("B", 0, false);
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"as registered", [] {}},
      {"a list gets its first page", [] { put_file(list_web_folder("B") + "\\index.htm", "x"); }},
      {"a mark set", [] { ASSERT_TRUE(set_new_mail("A", 1)); }},
      {"a mark cleared", [] { ASSERT_TRUE(set_new_mail("A", 0)); }},
      {"a record rewritten", [] { ASSERT_TRUE(write_list("B", ListRecord{"t", 0, 5})); }},
      {"the only page goes",
       [] { ASSERT_TRUE(platform::delete_file(list_web_folder("A") + "\\menu.htm")); }},
      {"a list registered", [] { add_list("C", 1, true); }},
      {"a record gone", [] { ASSERT_TRUE(platform::delete_file(list_record_path("C"))); }},
      {"a record renamed", [] { ASSERT_TRUE(platform::set_aside(list_record_path("B"), list_record_path("Z"))); }},
  };
  for (const auto& [label, change] : steps) {
    SCOPED_TRACE(label);
    change();
    refresher.refresh(table_);
    refresh_list_panel(fresh);
    const ListPanelTable::Slots got = table_.snapshot();
    const ListPanelTable::Slots want = fresh.snapshot();
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].list_name, want[i].list_name) << i;
      EXPECT_EQ(got[i].page_path, want[i].page_path) << i;
      EXPECT_EQ(got[i].new_mail, want[i].new_mail) << i;
    }
  }
}

}  // namespace
}  // namespace larkspur
