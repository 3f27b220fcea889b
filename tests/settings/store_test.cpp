#include "settings/store.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::put_file;
using testing::sj;

class StoreTest : public testing::InTempFolder {
 protected:
  void SetUp() override { create_working_folders(); }
};

std::vector<std::string> names(std::initializer_list<const char*> items) {
  return {items.begin(), items.end()};
}

TEST_F(StoreTest, NoListsWhenFolderEmptyOrMissing) {
  EXPECT_TRUE(enumerate_lists().empty());
  EXPECT_EQ(count_lists(), 0);
  ASSERT_TRUE(platform::remove_folder("LKset"));
  EXPECT_TRUE(enumerate_lists().empty());
  EXPECT_TRUE(list_record_files().empty());
  EXPECT_EQ(count_lists(), 0);
}

TEST_F(StoreTest, PresentationOrderIsTheReverseOfTheSearchOrder) {
  for (const char* name : {"Y", "Z", "X"}) put_file(list_record_path(name), "");
  put_file("LKset\\note.txt", "not a list");
  EXPECT_EQ(list_record_files(), names({"X.stf", "Y.stf", "Z.stf"}));
  EXPECT_EQ(enumerate_lists(), names({"Z", "Y", "X"}));
  EXPECT_EQ(count_lists(), 3);
}

TEST_F(StoreTest, MoreThanThirtyRecordsGiveTheFirstThirtyInSearchOrder) {
  for (int i = 0; i < 32; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "L%02d", i);
    put_file(list_record_path(name), "");
  }
  std::vector<std::string> files = list_record_files();
  ASSERT_EQ(files.size(), 30u);
  EXPECT_EQ(files.front(), "L00.stf");
  EXPECT_EQ(files.back(), "L29.stf");
  std::vector<std::string> lists = enumerate_lists();
  ASSERT_EQ(lists.size(), 30u);
  EXPECT_EQ(lists.front(), "L29");
  EXPECT_EQ(lists.back(), "L00");
  EXPECT_EQ(count_lists(), 32);  // the registration limit counts every record
}

// Short and empty records read as zero-padded ones, and setting the mark
// writes them out whole.
TEST_F(StoreTest, ShortEmptyAndMissingRecords) {
  put_file(list_record_path("Empty"), "");
  put_file(list_record_path("Short"), "Weekly");
  ASSERT_TRUE(read_list("Empty").has_value());
  EXPECT_EQ(read_list("Empty")->encode(), std::string(320, '\0'));
  ASSERT_TRUE(read_list("Short").has_value());
  EXPECT_EQ(read_list("Short")->search_text, "Weekly");
  EXPECT_EQ(read_list("Short")->delete_from_server, 0);
  EXPECT_FALSE(read_list("Missing").has_value());
  EXPECT_EQ(read_list_or_zero("Missing").encode(), std::string(320, '\0'));

  ASSERT_TRUE(set_new_mail("Empty", 1));
  ASSERT_TRUE(set_new_mail("Short", 1));
  EXPECT_EQ(get_file(list_record_path("Empty")), (ListRecord{"", 0, 1}).encode());
  EXPECT_EQ(get_file(list_record_path("Short")), (ListRecord{"Weekly", 0, 1}).encode());
}

TEST_F(StoreTest, WriteListWritesTheWholeRecord) {
  ListRecord record{"abc", 1, 0};
  ASSERT_TRUE(write_list("Weekly", record));
  EXPECT_EQ(get_file("LKset\\Weekly.stf"), record.encode());
  // Written over whole: a longer old record leaves nothing behind.
  put_file("LKset\\Weekly.stf", std::string(500, 'z'));
  ASSERT_TRUE(write_list("Weekly", record));
  EXPECT_EQ(get_file("LKset\\Weekly.stf"), record.encode());
}

TEST_F(StoreTest, FailedWriteLeavesTheOldRecord) {
  const ListRecord old_record{"old", 1, 1};
  ASSERT_TRUE(write_list("Weekly", old_record));
  // A folder where the temporary file would go makes the write fail.
  ASSERT_TRUE(platform::create_folder("LKset\\~Weekly.stf.tmp"));
  EXPECT_FALSE(write_list("Weekly", ListRecord{"new", 0, 0}));
  EXPECT_FALSE(set_new_mail("Weekly", 0));
  EXPECT_EQ(get_file(list_record_path("Weekly")), old_record.encode());
}

TEST_F(StoreTest, SetNewMailChangesOnlyItsFourBytes) {
  // Odd but possible content: bytes after the terminator and in reserved.
  std::string before = std::string("Vol.", 4) + '\0' + std::string(251, 'g');
  before += std::string("\x01\x00\x00\x00", 4) + std::string(4, '\0') + std::string(56, 'r');
  ASSERT_EQ(before.size(), 320u);
  put_file(list_record_path("Weekly"), before);

  ASSERT_TRUE(set_new_mail("Weekly", 1));
  std::string after = get_file(list_record_path("Weekly"));
  std::string expected = before;
  expected.replace(260, 4, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(after, expected);

  ASSERT_TRUE(set_new_mail("Weekly", 0));
  EXPECT_EQ(get_file(list_record_path("Weekly")), before);
}

TEST_F(StoreTest, SetNewMailNeverWritesWhenTheRecordCannotBeRead) {
  // Missing: no record is made up.
  EXPECT_FALSE(set_new_mail("Missing", 1));
  EXPECT_EQ(get_file(list_record_path("Missing")), "<missing>");
  // Present but not readable as a file: left as it is.
  ASSERT_TRUE(platform::create_folder(list_record_path("Locked")));
  EXPECT_FALSE(set_new_mail("Locked", 1));
  EXPECT_TRUE(platform::folder_exists(list_record_path("Locked")));
}

TEST_F(StoreTest, JapaneseListNameGetsTheRightFiles) {
  const std::string name = sj("ソポ表");  // 0x5C and 0x7C trail bytes
  ASSERT_TRUE(write_list(name, ListRecord{"x", 1, 0}));
  ASSERT_TRUE(platform::create_folder(list_folder(name)));
  ASSERT_TRUE(platform::create_folder(list_web_folder(name)));
  namespace fs = std::filesystem;
  const fs::path lkset = fs::path(u8"LKset");
  EXPECT_TRUE(fs::is_regular_file(lkset / u8"ソポ表.stf"));
  EXPECT_TRUE(fs::is_directory(lkset / u8"ソポ表" / u8"web"));
  EXPECT_EQ(enumerate_lists(), std::vector<std::string>{name});
  EXPECT_EQ(read_list_or_zero(name).search_text, "x");
}

TEST_F(StoreTest, AccountsInPresentationOrder) {
  EXPECT_FALSE(read_first_account().has_value());
  EXPECT_TRUE(enumerate_accounts().empty());

  AccountRecord a{"a", "pop.a", "ua", "pa"};
  AccountRecord b{sj("仕事"), "pop.b", "ub", "pb"};
  ASSERT_TRUE(write_account(a));
  ASSERT_TRUE(write_account(b));
  EXPECT_EQ(get_file("pop3mail\\a.stf"), a.encode());
  EXPECT_EQ(get_file(account_record_path(b.account_name)).size(), 1028u);

  ASSERT_TRUE(read_first_account().has_value());
  EXPECT_EQ(read_first_account()->server, "pop.a");
  std::vector<AccountRecord> accounts = enumerate_accounts();
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].account_name, b.account_name);
  EXPECT_EQ(accounts[1].account_name, "a");
}

TEST_F(StoreTest, AccountRecordNamedByHandShowsItsStoredName) {
  put_file("pop3mail\\renamed.stf", AccountRecord{"original", "s", "u", "p"}.encode());
  put_file("pop3mail\\empty.stf", "");
  std::vector<AccountRecord> accounts = enumerate_accounts();
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].account_name, "original");  // "renamed" comes last in search order
  EXPECT_EQ(accounts[1].account_name, "");
}

TEST_F(StoreTest, AccountNameMayNotLeadOutOfItsFolder) {
  for (const char* name : {"..\\escaped", "../escaped", "sub\\x"}) {
    EXPECT_FALSE(write_account(AccountRecord{name, "s", "u", "p"})) << name;
  }
  EXPECT_EQ(get_file("escaped.stf"), "<missing>");
  EXPECT_TRUE(write_account(AccountRecord{sj("ソフト"), "s", "u", "p"}));
}

}  // namespace
}  // namespace larkspur
