// The files that tell which messages are stored already: the ids of each
// list's stored messages.
#include "job/seen_messages.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

// The ids file grows a line per stored message: a later line for an id
// replaces an earlier one, and the last line a killed writer left without
// its LF is no entry. Older files (the id alone) still read. Key lines
// among them are no ids, and both readers of keys find the same keys.
TEST(StoredIds, AppendedLinesReadBackAndATornLastLineIsNoEntry) {
  testing::TempFolder folder;
  create_working_folders();
  platform::create_folder(list_folder("L"));
  ASSERT_TRUE(platform::write_file_fast(stored_ids_path("L"), "old-id\n"));
  ASSERT_TRUE(append_stored_id("L", "a b", {10, "f1", "1.log"}));
  ASSERT_TRUE(append_stored_key("L", "<k1@example.jp>", {"1.log", "f1"}));
  ASSERT_TRUE(append_stored_id("L", "c", {20, "f2", "2.log"}));
  ASSERT_TRUE(append_stored_key("L", "#0123456789abcdef", {}));
  ASSERT_TRUE(append_stored_key("L", "<k1@example.jp>", {"4.log", "f4"}));
  ASSERT_TRUE(append_stored_id("L", "a b", {30, "f3", "3.log"}));
  ASSERT_TRUE(platform::append_to_file(stored_ids_path("L"), "\t<k3@example.jp>\t5.log\n"));
  ASSERT_TRUE(platform::append_to_file(stored_ids_path("L"), "torn\t4"));
  const StoredKeys keys = read_stored_keys("L");
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys.at("<k1@example.jp>").log, "4.log");
  EXPECT_EQ(read_stored_key_names("L"),
            (std::unordered_set<std::string>{"<k1@example.jp>", "#0123456789abcdef", "<k3@example.jp>"}));
  const StoredIds ids = read_stored_ids("L");
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids.at("old-id").size, kUnknownSize);
  EXPECT_EQ(ids.at("a b").size, 30);
  EXPECT_EQ(ids.at("a b").log, "3.log");
  EXPECT_EQ(ids.at("c").fingerprint, "f2");
  EXPECT_TRUE(holds_message(ids, "old-id", 99));   // no size noted: the id alone
  EXPECT_FALSE(holds_message(ids, "c", 21));       // another message under the same id
}

}  // namespace
}  // namespace larkspur
