#include "retrieval/decode.h"
#include "retrieval/mail_date.h"

#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::sj;

// ESC-bearing literals are easier to read built from pieces.
const std::string kB = "\x1B$B";    // two-byte run
const std::string kAt = "\x1B$@";   // two-byte run, older designation
const std::string kAsc = "\x1B(B";  // back to ASCII
const std::string kRom = "\x1B(J";  // back to JIS Roman

const std::string kHiraganaJis = kB + "$3$s$K$A$O" + kAsc;  // こんにちは
const std::string kHiraganaSjis = "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD";

struct TextCase {
  const char* name;
  std::string in;
  std::string out;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

// ------------------------------------------------------- encoded words

class DecodeEncodedWords : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecodeEncodedWords, Decodes) {
  EXPECT_EQ(decode_encoded_words(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeEncodedWords,
    ::testing::Values(
        TextCase{"hiragana_upper_opener", "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", kHiraganaJis},
        TextCase{"lower_opener_upper_b", "=?iso-2022-jp?B?QUJD?=", "ABC"},
        TextCase{"lower_opener_lower_b", "=?iso-2022-jp?b?QUJD?=", "ABC"},
        TextCase{"upper_charset_lower_b_kept", "=?ISO-2022-JP?b?QUJD?=", "=?ISO-2022-JP?b?QUJD?="},
        TextCase{"mixed_case_charset_kept", "=?Iso-2022-Jp?B?QUJD?=", "=?Iso-2022-Jp?B?QUJD?="},
        TextCase{"shift_jis_charset_kept", "=?Shift_JIS?B?gqA=?=", "=?Shift_JIS?B?gqA=?="},
        TextCase{"q_encoding_kept", "=?ISO-2022-JP?Q?abc?=", "=?ISO-2022-JP?Q?abc?="},
        TextCase{"two_words_one_space", "=?ISO-2022-JP?B?QUJD?= =?ISO-2022-JP?B?REVG?=", "ABC DEF"},
        TextCase{"text_around", "Re: [ml] =?ISO-2022-JP?B?QUJD?=!", "Re: [ml] ABC!"},
        TextCase{"plain_text_unchanged", "Weekly news 12", "Weekly news 12"},
        TextCase{"empty", "", ""},
        TextCase{"padding_mid_word", "=?ISO-2022-JP?B?QQ==QUJD?=x", "AABCx"},
        TextCase{"empty_word", "=?ISO-2022-JP?B?" "?=x", "x"},
        // Malformed: the decoding stops at the end of the input.
        TextCase{"unclosed", "=?ISO-2022-JP?B?QUJD", "ABC"},
        TextCase{"unclosed_short_group", "=?ISO-2022-JP?B?QUJDRA", "ABCD"},
        TextCase{"closer_off_boundary", "=?ISO-2022-JP?B?QUJDRA?= tail", "ABCD"},
        TextCase{"opener_at_end", "x=?ISO-2022-JP?B?", "x"},
        TextCase{"cut_opener", "x=?ISO-2022-JP?", "x=?ISO-2022-JP?"},
        TextCase{"nul_bytes_pass", std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Base64, ValueOfEveryCharacterClass) {
  const std::vector<std::pair<signed char, int>> cases = {
      {'A', 0},   {'Z', 25}, {'a', 26},  {'z', 51},  {'0', 52},
      {'9', 61},  {'+', 62}, {'/', 63},  {'=', -1},  {'?', -59},
      {' ', -59}, {0, -59},  {'-', -59}, {static_cast<signed char>(0x80), -59},
      {static_cast<signed char>(0xFF), -59}};
  for (const auto& [c, value] : cases) EXPECT_EQ(base64_value(c), value) << int(c);
}

TEST(Base64, QuadWritesOnlyWhatItReturns) {
  struct Case {
    std::string in;
    int count;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"QUJD", 3, "ABC"}, {"QUI=", 2, "AB"}, {"QQ==", 1, "A"}, {"=QUJ", 0, ""},
      {"Q=JD", 0, ""},    {"QU=D", 1, "A"},  {"QUJ", 2, "AB"}, {"Q", 0, ""},
      {"", 0, ""},        {"QUJDxyz", 3, "ABC"}, {"////", 3, "\xFF\xFF\xFF"}};
  for (const auto& c : cases) {
    std::array<char, 3> out{'#', '#', '#'};
    ASSERT_EQ(base64_quad(c.in, out), c.count) << c.in;
    EXPECT_EQ(std::string(out.data(), static_cast<std::size_t>(c.count)), c.out) << c.in;
    for (int i = c.count; i < 3; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], '#') << c.in;
  }
}

// ----------------------------------------------------------- JIS pairs

TEST(JisPair, KnownPairs) {
  struct Case {
    unsigned char j1, j2, s1, s2;
  };
  const std::vector<Case> cases = {
      {0x30, 0x21, 0x88, 0x9F},  // 亜
      {0x24, 0x22, 0x82, 0xA0},  // あ
      {0x21, 0x21, 0x81, 0x40},  // ideographic space
      {0x21, 0x60, 0x81, 0x80},  // odd row, second byte skips 0x7F
      {0x5F, 0x21, 0xE0, 0x40},  // first row above the gap
      {0x7E, 0x7E, 0xEF, 0xFC}};
  for (const auto& c : cases) {
    std::array<unsigned char, 2> out{};
    EXPECT_EQ(jis_pair_to_sjis(c.j1, c.j2, out), c.s1);
    EXPECT_EQ(out[0], c.s1);
    EXPECT_EQ(out[1], c.s2);
  }
}

// Both converters must map every JIS pair alike, though the line converter
// writes the mapping another way.
TEST(JisPair, LineConverterAgreesOnEveryPair) {
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      std::array<unsigned char, 2> pair{};
      jis_pair_to_sjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2), pair);
      const std::string jis = kB + char(j1) + char(j2);
      const std::string expected{char(pair[0]), char(pair[1])};
      ASSERT_EQ(jis_to_sjis_line(jis), expected) << j1 << " " << j2;
      ASSERT_EQ(jis_to_sjis_subject(jis), expected) << j1 << " " << j2;
    }
  }
}

// ------------------------------------------------------------ subjects

class SubjectConverter : public ::testing::TestWithParam<TextCase> {};

TEST_P(SubjectConverter, Converts) { EXPECT_EQ(jis_to_sjis_subject(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Cases, SubjectConverter,
    ::testing::Values(
        TextCase{"hiragana", kHiraganaJis, kHiraganaSjis},
        TextCase{"roman_closes", kB + "$3" + kRom + "abc", "\x82\xB1" "abc"},
        TextCase{"text_around", "[ml] " + kB + "$3" + kAsc + " 12", "[ml] \x82\xB1 12"},
        TextCase{"two_runs", kB + "$3" + kAsc + "-" + kB + "$s" + kAsc, "\x82\xB1-\x82\xF1"},
        TextCase{"older_designation_not_recognised", kAt + "$3" + kAsc, kAt + "$3" + kAsc},
        TextCase{"katakana_escape_passes", "\x1B(Iabc", "\x1B(Iabc"},
        TextCase{"plain", "abc", "abc"},
        TextCase{"unclosed_run", kB + "$3$s", "\x82\xB1\x82\xF1"},
        TextCase{"odd_run_at_end", kB + "$3$", "\x82\xB1$"},
        TextCase{"escape_cut_at_end", "ab\x1B$", "ab\x1B$"},
        TextCase{"empty_run", kB + kAsc + "x", "x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SubjectConverter, HiraganaExampleEndToEnd) {
  const std::string decoded = decode_encoded_words("=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=");
  ASSERT_EQ(decoded, "\x1B$B\x24\x33\x24\x73\x24\x4B\x24\x41\x24\x4F\x1B(B");
  EXPECT_EQ(jis_to_sjis_subject(decoded), kHiraganaSjis);
  EXPECT_EQ(jis_to_sjis_subject(decoded), sj("こんにちは"));
}

// --------------------------------------------------------- message lines

class LineConverter : public ::testing::TestWithParam<TextCase> {};

TEST_P(LineConverter, Converts) { EXPECT_EQ(jis_to_sjis_line(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Cases, LineConverter,
    ::testing::Values(
        TextCase{"hiragana", kHiraganaJis, kHiraganaSjis},
        TextCase{"older_designation", kAt + "$3" + kAsc + "x", "\x82\xB1x"},
        TextCase{"roman_closes", kB + "$3" + kRom + "$3", "\x82\xB1$3"},
        TextCase{"space_in_run_copied", kB + "$3 $s" + kAsc, "\x82\xB1 \x82\xF1"},
        TextCase{"high_bytes_in_run_copied", kB + "\x80\x81$3", "\x80\x81\x82\xB1"},
        TextCase{"unclosed_run", kB + "$3$s", "\x82\xB1\x82\xF1"},
        TextCase{"odd_run_at_end", kB + "$3$", "\x82\xB1$"},
        TextCase{"escape_cut_at_end", "abc\x1B$", "abc\x1B$"},
        TextCase{"close_outside_run_kept", kAsc + "a", kAsc + "a"},
        TextCase{"kanji", kB + "F|K\\8l" + kAsc, "\x93\xFA\x96\x7B\x8C\xEA"},
        TextCase{"empty", "", ""},
        TextCase{"every_line_starts_in_ascii", "$3", "$3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineConverter, KanjiMatchesThePlatformConversion) {
  EXPECT_EQ(jis_to_sjis_line(kB + "F|K\\8l" + kAsc), sj("日本語"));
}

// ------------------------------------------------------------- bounds

// Random bytes drawn mostly from the characters that steer the converters:
// no output may outgrow its input.
TEST(Bounds, OutputNeverLongerThanInput) {
  std::mt19937 random(12345);
  const std::string alphabet = "\x1B$(B@J=?ISO-2022-JPisojpbQUJD/+ \x80\xFF";
  for (int round = 0; round < 20000; ++round) {
    std::string in(random() % 40, ' ');
    for (char& ch : in) ch = alphabet[random() % alphabet.size()];
    if (round % 3 == 0) in = "=?ISO-2022-JP?B?" + in;
    ASSERT_LE(decode_encoded_words(in).size(), in.size()) << in;
    ASSERT_LE(jis_to_sjis_subject(in).size(), in.size()) << in;
    ASSERT_LE(jis_to_sjis_line(in).size(), in.size()) << in;
  }
}

// Date fields as mail carries them, and what they mean in UTC.
TEST(MailDate, FieldsAsMailCarriesThem) {
  constexpr std::int64_t k20240102 = 1704153600;  // 2024-01-02 00:00:00 UTC
  const struct {
    const char* value;
    std::optional<std::int64_t> utc;
  } cases[] = {
      {"Tue, 02 Jan 2024 10:00:00 +0000", k20240102 + 36000},
      {"2 Jan 2024 10:00:00 +0900", k20240102 + 3600},
      {"Tue, 2 Jan 2024 10:00 -0130 (a comment)", k20240102 + 36000 + 5400},
      {"Tue,\r\n 02 January 2024 10:00:00 GMT", k20240102 + 36000},
      {"Mon, 01 Jan 24 19:00:00 EST", k20240102},
      {"01 Jan 99 00:00:00 +0000", 915148800},
      {"Tue, 02 Jan 2024 10:00:00", k20240102 + 36000},  // no zone: UTC
      {"Tue, 02 Jan 2024 23:59:60 +0000", k20240102 + 86399},  // leap second
      {"Thu, 29 Feb 2024 00:00:00 +0000", k20240102 + 58 * 86400},
      {"Fri, 30 Feb 2024 00:00:00 +0000", std::nullopt},
      {"02 Foo 2024 10:00:00 +0000", std::nullopt},
      {"02 Jan 2024 25:00:00 +0000", std::nullopt},
      {"yesterday", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_mail_date(c.value), c.utc) << c.value;
  }
}

}  // namespace
}  // namespace larkspur
