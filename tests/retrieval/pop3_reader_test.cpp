// The socket-free parts of the POP3 client: line splitting, the reply test,
// subject extraction, message line handling and the server field.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "retrieval/pop3_client.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::sj;

// Feeds `bytes` in pieces of `piece` bytes and collects every line.
std::vector<std::string> split(const std::string& bytes, std::size_t piece,
                               std::size_t bound = kMaxReplyBytes,
                               std::vector<bool>* overlong = nullptr) {
  Pop3LineReader reader(bound);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    reader.feed(std::string_view(bytes).substr(at, piece));
    while (auto line = reader.next_line()) {
      lines.push_back(*line);
      if (overlong) overlong->push_back(reader.overlong());
    }
  }
  return lines;
}

TEST(LineReader, SplitsOnlyOnCrLfHoweverTheBytesArrive) {
  const std::string bytes = "+OK\r\na\nb\r\n\r\nx\ry\r\r\n..\r\n.\r\nrest\r";
  const std::vector<std::string> expected = {"+OK", "a\nb", "", "x\ry\r", "..", "."};
  for (std::size_t piece = 1; piece <= bytes.size(); ++piece) {
    EXPECT_EQ(split(bytes, piece), expected) << "piece " << piece;
  }
}

TEST(LineReader, HoldsAnUnfinishedLineUntilItsEnd) {
  Pop3LineReader reader;
  reader.feed("abc\r");
  EXPECT_FALSE(reader.next_line());
  reader.feed("\ndef");
  EXPECT_EQ(reader.next_line(), "abc");
  EXPECT_FALSE(reader.next_line());
  reader.clear();
  reader.feed("\r\n");
  EXPECT_EQ(reader.next_line(), "");
}

TEST(LineReader, KeepsLongLinesWhole) {
  const std::string line(100'000, 'x');
  EXPECT_EQ(split(line + "\r\nend\r\n", 4096), (std::vector<std::string>{line, "end"}));
}

TEST(LineReader, CutsALineAtItsBoundAndStaysInStep) {
  for (std::size_t piece : {1, 3, 7, 64}) {
    std::vector<bool> overlong;
    const auto lines = split("0123456789abcdef\r\n01234567\r\n012345678\r\nok\r\n", piece, 8, &overlong);
    EXPECT_EQ(lines, (std::vector<std::string>{"01234567", "01234567", "01234567", "ok"}))
        << "piece " << piece;
    EXPECT_EQ(overlong, (std::vector<bool>{true, false, true, false})) << "piece " << piece;
  }
}

TEST(ReplyTest, OnlyALeadingMinusIsNegative) {
  EXPECT_TRUE(pop3_reply_negative("-ERR no"));
  EXPECT_TRUE(pop3_reply_negative("-"));
  EXPECT_FALSE(pop3_reply_negative("+OK"));
  EXPECT_FALSE(pop3_reply_negative("OK"));
  EXPECT_FALSE(pop3_reply_negative(""));
  EXPECT_FALSE(pop3_reply_negative(" -ERR"));
}

struct SubjectCase {
  const char* name;
  std::vector<std::string> header;
  std::string subject;
};

void PrintTo(const SubjectCase& c, std::ostream* os) { *os << c.name; }

class Subjects : public ::testing::TestWithParam<SubjectCase> {};

TEST_P(Subjects, Extracted) {
  SubjectExtractor extractor;
  for (const auto& line : GetParam().header) extractor.header_line(line);
  EXPECT_EQ(extractor.subject(), GetParam().subject);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Subjects,
    ::testing::Values(
        SubjectCase{"plain", {"From: a@b", "Subject: Weekly 12", "To: c@d", ""}, "Weekly 12"},
        SubjectCase{"encoded_hiragana",
                    {"Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?="},
                    sj("こんにちは")},
        SubjectCase{"folded_over_three_lines",
                    {"Subject: =?ISO-2022-JP?B?GyRCJDMkcxsoQg==?=",
                     " =?ISO-2022-JP?B?GyRCJEskQRsoQg==?=", "\t=?ISO-2022-JP?B?GyRCJE8bKEI=?=",
                     "To: x@y"},
                    sj("こんにちは")},
        SubjectCase{"at_most_two_blanks_dropped", {"Subject: a", "   b", " \tc"}, "a bc"},
        // The folding count covers the first two characters wherever the
        // blanks stand, and cuts that many characters from the front.
        SubjectCase{"tab_then_text", {"Subject: a", "\tbc"}, "abc"},
        SubjectCase{"blank_second_only_continues", {"Subject: a", "x y", " z"}, "a yz"},
        SubjectCase{"text_then_tab_continues", {"Subject: a", "x\ty"}, "a\ty"},
        SubjectCase{"single_blank_line", {"Subject: a", " ", " b"}, "ab"},
        SubjectCase{"single_char_line_ends", {"Subject: a", "x", " b"}, "a"},
        SubjectCase{"empty_line_ends", {"Subject: a", "", " b"}, "a"},
        SubjectCase{"raw_jis", {"Subject: [ml] \x1B$B$3\x1B(B"}, "[ml] " + sj("こ")},
        SubjectCase{"lower_case_name_ignored", {"subject: x"}, ""},
        SubjectCase{"no_space_after_colon_ignored", {"Subject:x"}, ""},
        SubjectCase{"no_subject", {"From: a@b", "To: c@d"}, ""},
        SubjectCase{"later_subject_replaces", {"Subject: first", " more", "Subject: second"},
                    "second"},
        SubjectCase{"continuation_needs_subject_before",
                    {"Subject: a", "X-Other: b", " c"}, "a"},
        SubjectCase{"long_subject_kept_whole", {"Subject: " + std::string(2000, 'z')},
                    std::string(2000, 'z')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageLines, UnstuffsConvertsAndEndsEachLine) {
  struct Case {
    std::string line;
    bool crlf;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"...", false, "..\n"},
      {"..", false, ".\n"},
      {".a", false, ".a\n"},
      {"..a", true, ".a\r\n"},
      {"", true, "\r\n"},
      {"a\nb", false, "a\nb\n"},
      {"\x1B$B$3\x1B(B!", false, sj("こ") + "!\n"},
  };
  for (const auto& c : cases) {
    std::string text = "before|";
    append_message_line(text, c.line, c.crlf);
    EXPECT_EQ(text, "before|" + c.text) << c.line;
  }
}

TEST(ServerField, HostAndOptionalPort) {
  struct Case {
    std::string field;
    bool valid;
    std::string host;
    int port;
    Pop3Security security = Pop3Security::kPlain;
  };
  constexpr auto kTls = Pop3Security::kImplicitTls;
  constexpr auto kStls = Pop3Security::kStartTls;
  const std::vector<Case> cases = {
      {"mail.example.jp", true, "mail.example.jp", 110},
      {"192.0.2.1", true, "192.0.2.1", 110},
      {"127.0.0.1:11110", true, "127.0.0.1", 11110},
      {"[::1]:2110", true, "::1", 2110},
      {"[::1]", true, "::1", 110},
      {"::1", true, "::1", 110},
      {"host:65535", true, "host", 65535},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:", false, "", 0},
      {"host:11x", false, "", 0},
      {":110", false, "", 0},
      {"", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},
      // Implicit TLS: by scheme (995 unless a port is given) or by port 995.
      {"pop3s://pop.gmail.com", true, "pop.gmail.com", 995, kTls},
      {"pop3s://pop.gmail.com:1995", true, "pop.gmail.com", 1995, kTls},
      {"POP3S://Mail.Example.jp/", true, "Mail.Example.jp", 995, kTls},
      {"pop3s://[::1]:995", true, "::1", 995, kTls},
      {"pop.example.jp:995", true, "pop.example.jp", 995, kTls},
      {"[::1]:995", true, "::1", 995, kTls},
      // STLS on the plain port.
      {"pop3+starttls://mail.example.jp", true, "mail.example.jp", 110, kStls},
      {"pop3+starttls://mail.example.jp:2110", true, "mail.example.jp", 2110, kStls},
      // An explicit pop3:// is plain, even on 995.
      {"pop3://mail.example.jp", true, "mail.example.jp", 110},
      {"pop3://mail.example.jp:995", true, "mail.example.jp", 995},
      {"pop3s://", false, "", 0},
      {"pop3s://:995", false, "", 0},
      {"imaps://mail.example.jp", false, "", 0},
      {"pop3s://host:99999", false, "", 0},
  };
  for (const auto& c : cases) {
    const auto field = parse_server_field(c.field);
    ASSERT_EQ(field.has_value(), c.valid) << c.field;
    if (!field) continue;
    EXPECT_EQ(field->host, c.host) << c.field;
    EXPECT_EQ(field->port, c.port) << c.field;
    EXPECT_EQ(field->security, c.security) << c.field;
  }
}

}  // namespace
}  // namespace larkspur
