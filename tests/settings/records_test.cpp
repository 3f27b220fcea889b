#include "settings/records.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::sj;

// Little-endian bytes of a 32-bit value.
std::string le32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

TEST(AccountRecordTest, EncodesEveryFieldAtItsOffset) {
  AccountRecord record;
  record.account_name = sj("仕事用");
  record.server = "pop.example.jp";
  record.user_name = "taro";
  record.password = "secret";

  std::string expected(1028, '\0');
  expected.replace(0, record.account_name.size(), record.account_name);
  expected.replace(256, 14, "pop.example.jp");
  expected.replace(512, 4, "taro");
  expected.replace(768, 6, "secret");
  EXPECT_EQ(record.encode(), expected);
}

TEST(ListRecordTest, EncodesTextAndLittleEndianFlags) {
  ListRecord record;
  record.search_text = sj("【週刊ソポ表】");
  record.delete_from_server = 1;
  record.new_mail = 0x01020304;

  std::string expected(320, '\0');
  expected.replace(0, record.search_text.size(), record.search_text);
  expected.replace(256, 4, le32(1));
  expected.replace(260, 4, le32(0x01020304));
  EXPECT_EQ(record.encode(), expected);
}

TEST(RecordSizeTest, SizesAreFixedWhateverTheTextLengths) {
  for (std::size_t length : {0u, 1u, 79u, 254u, 255u, 256u, 1000u}) {
    SCOPED_TRACE(length);
    const std::string text(length, 'a');
    AccountRecord account{text, text, text, text};
    ListRecord list{text, 1, 1};
    const std::string account_bytes = account.encode();
    const std::string list_bytes = list.encode();
    ASSERT_EQ(account_bytes.size(), 1028u);
    ASSERT_EQ(list_bytes.size(), 320u);
    // A text is cut so that its field keeps a terminating NUL.
    const std::size_t kept = std::min<std::size_t>(length, 255);
    for (std::size_t offset : {0u, 256u, 512u, 768u}) {
      EXPECT_EQ(account_bytes.substr(offset, 256),
                std::string(kept, 'a') + std::string(256 - kept, '\0'));
    }
    EXPECT_EQ(list_bytes.substr(0, 256), std::string(kept, 'a') + std::string(256 - kept, '\0'));
    EXPECT_EQ(list_bytes.substr(264), std::string(56, '\0'));
    EXPECT_EQ(ListRecord::decode(list_bytes).search_text, std::string(kept, 'a'));
  }
}

struct ListDecodeCase {
  const char* label;
  std::string bytes;
  std::string search_text;
  std::int32_t delete_from_server;
  std::int32_t new_mail;
};

TEST(ListRecordTest, DecodesShortAndOddFilesIntoAZeroedRecord) {
  const std::string full_text(256, 'x');  // no terminator in the field
  const ListDecodeCase cases[] = {
      {"empty file", "", "", 0, 0},
      {"text only, no terminator", "Weekly", "Weekly", 0, 0},
      {"garbage after the terminator",
       std::string("abc\0zzz", 7) + std::string(249, 'q') + le32(1) + le32(1), "abc", 1, 1},
      {"cut inside delete_from_server", std::string(256, '\0') + "\x01\x02", "", 0x0201, 0},
      {"cut inside new_mail", std::string(256, '\0') + le32(0) + "\x07", "", 0, 7},
      {"field full, no NUL", full_text + le32(0) + le32(0), full_text, 0, 0},
      {"negative flag read as is", std::string(256, '\0') + le32(0xFFFFFFFF), "", -1, 0},
      {"longer than a record", std::string(256, '\0') + le32(1) + le32(1) + std::string(100, 'z'),
       "", 1, 1},
  };
  for (const ListDecodeCase& c : cases) {
    SCOPED_TRACE(c.label);
    ListRecord record = ListRecord::decode(c.bytes);
    EXPECT_EQ(record.search_text, c.search_text);
    EXPECT_EQ(record.delete_from_server, c.delete_from_server);
    EXPECT_EQ(record.new_mail, c.new_mail);
  }
}

TEST(AccountRecordTest, DecodesShortFilesAndRoundTrips) {
  AccountRecord empty = AccountRecord::decode("");
  EXPECT_EQ(empty.account_name, "");
  EXPECT_EQ(empty.password, "");
  EXPECT_EQ(empty.options, 0);

  AccountRecord record{sj("アカウント"), "127.0.0.1", "user", "pass"};
  const std::string bytes = record.encode();
  // Cut inside the password field: the fields before it are whole.
  AccountRecord cut = AccountRecord::decode(bytes.substr(0, 770));
  EXPECT_EQ(cut.account_name, record.account_name);
  EXPECT_EQ(cut.server, "127.0.0.1");
  EXPECT_EQ(cut.user_name, "user");
  EXPECT_EQ(cut.password, "pa");

  AccountRecord back = AccountRecord::decode(bytes);
  EXPECT_EQ(back.encode(), bytes);
}

TEST(LogFileTest, NameFromLocalTimeAndNumber) {
  struct Case {
    platform::LocalTime time;
    int number;
    const char* name;
  } cases[] = {
      {{1999, 5, 5, 9, 5, 3}, 1, "19990505090503_1.log"},
      {{2026, 12, 31, 23, 59, 59}, 12, "20261231235959_12.log"},
      {{2000, 1, 1, 0, 0, 0}, 100, "20000101000000_100.log"},
  };
  for (const Case& c : cases) EXPECT_EQ(log_file_name(c.time, c.number), c.name);
}

TEST(LogFileTest, ContentIsSubjectThreeLineFeedsMessage) {
  EXPECT_EQ(log_file_content(sj("件名"), "From: a\n\nbody\n"),
            sj("件名") + "\n\n\nFrom: a\n\nbody\n");
  EXPECT_EQ(log_file_content("", ""), "\n\n\n");
}

TEST(SjisTest, RefusedCharactersAreTestedPerCharacter) {
  struct Case {
    std::string text;
    bool found;
  } cases[] = {
      {"a.b", true},
      {"x:y", true},
      {"plain", false},
      {sj("ソ"), false},            // 0x83 0x5C
      {sj("ポ"), false},            // 0x83 0x7C
      {sj("表示ソフト"), false},
      {sj("ソ") + "\\", true},      // a real backslash after it
      {"\\" + sj("ソ"), true},
      {sj("半角ｱ|"), true},       // single-byte katakana is one byte
      {std::string("\x83"), false},  // a lone lead byte at the end
      // A lead byte followed by a byte that cannot be a trail byte is no
      // double-byte character: the refused byte after it still counts.
      {std::string("a\x81.b"), true},
      {std::string("a\x83:b"), true},
      {std::string("\xE0\"") + "x", true},
      {std::string("\x81\x7F") + "|", true},  // 0x7F is no trail byte either
      {std::string("\x81\x40") + "x", false},  // the first valid trail byte
      {std::string("\x81\xFC") + "x", false},  // and the last
  };
  for (const Case& c : cases) {
    EXPECT_EQ(contains_sjis_char(c.text, "\\/.:,;*?<>|\""), c.found)
        << ::testing::PrintToString(c.text);
  }
}

}  // namespace
}  // namespace larkspur
