#include "dialogs/list_logic.h"

#include <gtest/gtest.h>

#include "settings/store.h"
#include "tests/dialogs/message_texts.h"
#include "tests/support/scripted_ui.h"

namespace larkspur {
namespace {

using namespace larkspur::testing;

class ListLogicTest : public InTempFolder {
 protected:
  void SetUp() override { create_working_folders(); }

  // A list as a receive job leaves it: record, a log, a web folder with pages.
  static void add_received_list(const std::string& name, std::int32_t new_mail) {
    ASSERT_TRUE(write_list(name, ListRecord{"old", 1, new_mail}));
    ASSERT_TRUE(platform::create_folder(list_folder(name)));
    ASSERT_TRUE(platform::create_folder(list_web_folder(name)));
    put_file(list_folder(name) + "\\20260101000000_1.log", "Vol.1\n\n\nbody\n");
    put_file(list_web_folder(name) + "\\index.htm", "<html>");
  }

  static void add_lists(int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(write_list("L" + std::to_string(100 + i), ListRecord{"s", 1, 0}));
    }
  }

  ListPanelTable table_;
};

struct RegisterCase {
  const char* label;
  int lists_before;
  NewListFields fields;
  Shown shown;
};

TEST_F(ListLogicTest, RegisterRefusalsInTheirOrder) {
  std::vector<RegisterCase> cases = {
      {"limit with every field empty", 30, {}, {kListLimit}},
      {"limit with a good entry", 30, {"New", "s", false}, {kListLimit}},
      {"limit with more records than the views take", 31, {"New", "s", false}, {kListLimit}},
      {"empty name", 0, {"", "s", false}, {kFillEvery}},
      {"empty search text", 0, {"New", "", false}, {kFillEvery}},
      {"empty field before a refused character", 0, {"a.b", "", false}, {kFillEvery}},
      {"a dot", 0, {"a.b", "s", false}, {kRefusedCharacter}},
      {"a colon", 0, {"x:y", "s", true}, {kRefusedCharacter}},
  };
  // Each of the twelve refused characters, anywhere in the name.
  for (char refused : std::string("\\/.:,;*?<>|\"")) {
    cases.push_back({"refused character", 0, {std::string("ab") + refused + "c", "s", false},
                     {kRefusedCharacter}});
  }
  cases.push_back({"refused after a Japanese character", 0,
                   {sj("ソ") + "\\" + sj("ポ"), "s", false}, {kRefusedCharacter}});
  cases.push_back({"a dot after a lone lead byte", 0, {std::string("a\x81.b"), "s", false},
                   {kRefusedCharacter}});
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(std::string(c.label) + ": " + c.fields.name);
    TempFolder folder;
    create_working_folders();
    add_lists(c.lists_before);
    const std::vector<std::string> before = platform::find_files("LKset\\*");

    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    ListDialogUpdate update = register_list(c.fields, ui, table_);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    EXPECT_FALSE(update.clear_new_fields);
    EXPECT_FALSE(update.refill_list_box);
    EXPECT_EQ(ui.panel_changes(), 0);
    // Neither a folder nor a record was made.
    std::vector<std::string> after;
    for (const platform::DirEntry& entry : platform::find_entries("LKset\\*")) {
      after.push_back(entry.name);
    }
    EXPECT_EQ(after, before);
  }
}

TEST_F(ListLogicTest, ThirtiethListSucceedsThirtyFirstIsRefused) {
  add_lists(29);
  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  EXPECT_TRUE(register_list({"Thirtieth", "s", false}, ui, table_).refill_list_box);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_FALSE(register_list({"ThirtyFirst", "s", false}, ui, table_).refill_list_box);
  EXPECT_EQ(describe(ui.shown()), Shown{kListLimit});
  EXPECT_EQ(count_lists(), 30);
}

struct AcceptedCase {
  const char* label;
  NewListFields fields;
  std::int32_t delete_from_server;
};

TEST_F(ListLogicTest, RegisterWritesRecordAndFolder) {
  const AcceptedCase cases[] = {
      {"box unchecked deletes from the server", {"Weekly", sj("【週刊】"), false}, 1},
      {"box checked leaves mail on the server", {"Weekly", "x", true}, 0},
      {"ソ and ポ hold 0x5C and 0x7C trail bytes", {sj("ソポ表"), "x", false}, 1},
      {"spaces and other signs are allowed", {"a b-c_(d)!", "x", false}, 1},
  };
  for (const AcceptedCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    ScriptedUi ui{ScriptedUi::Unscripted::kFail};
    ListDialogUpdate update = register_list(c.fields, ui, table_);
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_TRUE(update.clear_new_fields);
    EXPECT_TRUE(update.refill_list_box);
    EXPECT_FALSE(update.clear_selected_fields);
    EXPECT_EQ(ui.panel_changes(), 1);
    EXPECT_TRUE(platform::folder_exists(list_folder(c.fields.name)));
    EXPECT_EQ(get_file(list_record_path(c.fields.name)),
              (ListRecord{c.fields.search_text, c.delete_from_server, 0}).encode());
    EXPECT_EQ(list_box_lines(), std::vector<std::string>{c.fields.name});
  }
}

TEST_F(ListLogicTest, RegisteringAnExistingNameWritesOverAndKeepsTheFolder) {
  add_received_list("Weekly", 1);
  refresh_list_panel(table_);
  ASSERT_EQ(table_.snapshot()[0].new_mail, 1);

  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  register_list({"Weekly", "new", true}, ui, table_);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_EQ(get_file(list_record_path("Weekly")), (ListRecord{"new", 0, 0}).encode());
  EXPECT_EQ(get_file("LKset\\Weekly\\20260101000000_1.log"), "Vol.1\n\n\nbody\n");
  EXPECT_EQ(list_box_lines(), std::vector<std::string>{"Weekly"});
  // The panel table was refilled from the records.
  EXPECT_EQ(table_.snapshot()[0].list_name, "Weekly");
  EXPECT_EQ(table_.snapshot()[0].new_mail, 0);
}

TEST_F(ListLogicTest, SearchTextIsCutAt255BytesNeverInsideACharacter) {
  std::string japanese;
  for (int i = 0; i < 128; ++i) japanese += sj("ソ");  // 256 bytes
  ScriptedUi ui{ScriptedUi::Unscripted::kFail};
  register_list({"Long", std::string(300, 's'), false}, ui, table_);
  register_list({"Japanese", japanese, false}, ui, table_);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_EQ(read_list_or_zero("Long").search_text, std::string(255, 's'));
  EXPECT_EQ(read_list_or_zero("Japanese").search_text, japanese.substr(0, 254));
}

TEST_F(ListLogicTest, SelectShowsSearchTextAndInvertedBox) {
  ASSERT_TRUE(write_list("Keep", ListRecord{"k", 0, 1}));
  ASSERT_TRUE(write_list("Delete", ListRecord{"d", 1, 0}));
  EXPECT_EQ(select_list("Keep").search_text, "k");
  EXPECT_TRUE(select_list("Keep").keep_on_server);
  EXPECT_EQ(select_list("Delete").search_text, "d");
  EXPECT_FALSE(select_list("Delete").keep_on_server);
  // Unreadable: empty text and the box checked, as an all-zero record.
  EXPECT_EQ(select_list("Missing").search_text, "");
  EXPECT_TRUE(select_list("Missing").keep_on_server);
}

struct ChangeCase {
  const char* label;
  std::optional<std::string> selected;
  ListFields fields;
  std::deque<bool> answers;
  Shown shown;
  bool written;
};

TEST_F(ListLogicTest, ChangeMessagePaths) {
  const ChangeCase cases[] = {
      {"answered No", "Weekly", {"new", false}, {false}, {kConfirmChange}, false},
      {"nothing selected: the question, then nothing", std::nullopt, {"new", false}, {true},
       {kConfirmChange}, false},
      {"nothing selected and No", std::nullopt, {"new", false}, {false}, {kConfirmChange}, false},
      {"a list not registered gets no record", "Gone", {"new", false}, {true}, {kConfirmChange},
       false},
      {"empty search text refused after the question", "Weekly", {"", true}, {true},
       {kConfirmChange, kFillEvery}, false},
      {"written", "Weekly", {"new", false}, {true}, {kConfirmChange}, true},
      {"written, leaving mail on the server", "Weekly", {"new", true}, {true}, {kConfirmChange},
       true},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    add_received_list("Weekly", 1);
    refresh_list_panel(table_);
    const std::string before = get_file(list_record_path("Weekly"));

    ScriptedUi ui{ScriptedUi::Unscripted::kFail, c.answers};
    ListDialogUpdate update = change_list(c.selected, c.fields, ui, table_);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    // A change never touches the list box or the new-entry fields.
    EXPECT_FALSE(update.clear_new_fields || update.clear_selected_fields ||
                 update.refill_list_box);
    if (c.written) {
      const std::int32_t delete_from_server = c.fields.keep_on_server ? 0 : 1;
      EXPECT_EQ(get_file(list_record_path("Weekly")),
                (ListRecord{"new", delete_from_server, 0}).encode());
      EXPECT_EQ(table_.snapshot()[0].new_mail, 0);
      EXPECT_EQ(ui.panel_changes(), 1);
    } else {
      EXPECT_EQ(get_file(list_record_path("Weekly")), before);
      EXPECT_EQ(table_.snapshot()[0].new_mail, 1);
    }
    EXPECT_EQ(get_file(list_record_path("Gone")), "<missing>");
    // Folder, messages and pages stay in every case.
    EXPECT_EQ(get_file("LKset\\Weekly\\20260101000000_1.log"), "Vol.1\n\n\nbody\n");
    EXPECT_EQ(get_file("LKset\\Weekly\\web\\index.htm"), "<html>");
  }
}

TEST_F(ListLogicTest, ChangeThatCannotBeWrittenKeepsTheMark) {
  add_received_list("Weekly", 1);
  refresh_list_panel(table_);
  const std::string before = get_file(list_record_path("Weekly"));
  // A folder where the temporary file would go makes the write fail.
  ASSERT_TRUE(platform::create_folder("LKset\\~Weekly.stf.tmp"));

  ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
  const ListDialogUpdate update = change_list(std::string("Weekly"), {"new", false}, ui, table_);
  EXPECT_EQ(describe(ui.shown()), (Shown{kConfirmChange, kSaveFailed}));
  EXPECT_EQ(update.outcome.kind, OutcomeKind::kFailed);
  EXPECT_EQ(get_file(list_record_path("Weekly")), before);
  // The panel still shows what the record holds.
  EXPECT_EQ(table_.snapshot()[0].new_mail, 1);
}

struct DeleteCase : DeletePath {
  bool deleted;
};

TEST_F(ListLogicTest, DeleteMessagePaths) {
  const DeleteCase cases[] = {
      {{"nothing selected", std::nullopt, {}, {kNothingSelected}}, false},
      {{"answered No", "Weekly", {false}, {kConfirmListDelete}}, false},
      {{"answered Yes", "Weekly", {true}, {kConfirmListDelete}}, true},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder folder;
    create_working_folders();
    add_received_list("Weekly", 0);
    add_received_list("Other", 0);
    refresh_list_panel(table_);

    ScriptedUi ui{ScriptedUi::Unscripted::kFail, c.answers};
    ListDialogUpdate update = delete_list(c.selected, ui, table_);
    EXPECT_EQ(describe(ui.shown()), c.shown);
    EXPECT_EQ(update.clear_selected_fields, c.deleted);
    EXPECT_EQ(update.refill_list_box, c.deleted);
    EXPECT_EQ(ui.panel_changes(), c.deleted ? 1 : 0);
    EXPECT_EQ(platform::folder_exists("LKset\\Weekly"), !c.deleted);
    EXPECT_EQ(list_box_lines().size(), c.deleted ? 1u : 2u);
    EXPECT_EQ(table_.shown_count(), c.deleted ? 1 : 2);
    EXPECT_EQ(get_file("LKset\\Other\\20260101000000_1.log"), "Vol.1\n\n\nbody\n");
  }
}

TEST_F(ListLogicTest, DeleteRemovesEverythingHoweverManyFiles) {
  add_received_list("Weekly", 0);
  // More names than a fixed table of 1000 would hold.
  for (int i = 0; i < 1001; ++i) {
    put_file("LKset\\Weekly\\web\\" + std::to_string(i) + ".htm", "p");
  }
  for (int i = 0; i < 1001; ++i) {
    put_file("LKset\\Weekly\\" + std::to_string(i) + ".log", "l");
  }
  put_file("LKset\\Weekly\\notes.txt", "any other file goes too");
  put_file("LKset\\Weekly\\README", "a name without a dot");
  put_file("LKset\\Weekly\\web\\~menu.htm.tmp", "left over by an interrupted write");

  ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
  delete_list(std::string("Weekly"), ui, table_);
  EXPECT_EQ(describe(ui.shown()), Shown{kConfirmListDelete});
  EXPECT_FALSE(platform::folder_exists("LKset\\Weekly"));
  EXPECT_EQ(get_file("LKset\\Weekly.stf"), "<missing>");
  EXPECT_TRUE(platform::find_entries("LKset\\*").empty());
}

TEST_F(ListLogicTest, HandMadeSubfolderSurvivesWithItsListFolder) {
  add_received_list("Weekly", 0);
  ASSERT_TRUE(platform::create_folder("LKset\\Weekly\\keep"));
  put_file("LKset\\Weekly\\keep\\mine.txt", "mine");

  ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
  delete_list(std::string("Weekly"), ui, table_);
  EXPECT_EQ(describe(ui.shown()), Shown{kConfirmListDelete});
  EXPECT_EQ(get_file("LKset\\Weekly\\keep\\mine.txt"), "mine");
  EXPECT_EQ(get_file("LKset\\Weekly\\20260101000000_1.log"), "<missing>");
  EXPECT_FALSE(platform::folder_exists("LKset\\Weekly\\web"));
  EXPECT_EQ(get_file("LKset\\Weekly.stf"), "<missing>");  // the record goes all the same
}

TEST_F(ListLogicTest, RecordThatCannotBeDeletedIsReported) {
  add_received_list("Weekly", 0);
  // A folder in place of the record file: it cannot be deleted as a file.
  ASSERT_TRUE(platform::create_folder("LKset\\Stuck.stf"));
  ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
  ListDialogUpdate update = delete_list(std::string("Stuck"), ui, table_);
  EXPECT_EQ(describe(ui.shown()), (Shown{kConfirmListDelete, kDeleteFailed}));
  EXPECT_TRUE(update.refill_list_box);
  EXPECT_EQ(ui.panel_changes(), 1);
}

TEST_F(ListLogicTest, NamesFromOddRecordFilesNeverEmptyOtherFolders) {
  add_received_list("Weekly", 0);
  put_file("LKset\\.stf", "");    // gives the name ""
  put_file("LKset\\...stf", "");  // gives the name ".."
  put_file("keep.txt", "working folder file");
  for (const char* name : {"", ".."}) {
    ScriptedUi ui{ScriptedUi::Unscripted::kFail, {true}};
    delete_list(std::string(name), ui, table_);
  }
  EXPECT_EQ(get_file("LKset\\Weekly.stf"), (ListRecord{"old", 1, 0}).encode());
  EXPECT_EQ(get_file("keep.txt"), "working folder file");
  EXPECT_EQ(get_file("LKset\\.stf"), "<missing>");
  EXPECT_EQ(get_file("LKset\\...stf"), "<missing>");
}

}  // namespace
}  // namespace larkspur
