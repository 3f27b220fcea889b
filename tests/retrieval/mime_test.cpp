// The extended mail decoder's contracts the corpus does not pin down: header
// fields, the subject's bounds, the conversions both builds must agree on,
// and the sanitizer against markup that tries to run something.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "retrieval/decode.h"
#include "retrieval/mime.h"
#include "settings/records.h"
#include "settings/store.h"
#include "site/list_pages.h"
#include "site/log_page.h"
#include "tests/support/hostile_mail.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

std::string sjis(std::string_view utf8) { return platform::utf8_to_sjis(utf8).value_or("?"); }

TEST(Mime, HeaderFieldIsUnfoldedCaseInsensitiveAndEndsAtTheBlankLine) {
  constexpr std::string_view kBlock = "From: a\r\nsubject:  one\r\n\ttwo\r\n three\r\nSubject: second\r\n\r\nX-Body: no\r\n";
  EXPECT_EQ(header_field(kBlock, "Subject"), "one\ttwo three");
  EXPECT_EQ(header_field(kBlock, "FROM"), "a");
  EXPECT_EQ(header_field(kBlock, "X-Body"), "");
  EXPECT_EQ(header_field(kBlock, "To"), "");
}

TEST(Mime, SubjectIsOneBoundedLine) {
  struct Case {
    std::string header;
    std::string subject;
  };
  const Case cases[] = {
      {"Subject: =?UTF-8?Q?a=0D=0Ab?=\n", "a  b"},                            // no line break survives
      {"Subject: =?utf-8?q?a_b=5Fc=5=g?=\n", "a b_c=5=g"},                   // Q: "_" a space, "=5F" not
      {"Subject: =?utf-8?B?8J+YgA==?=\n", "&#x1F600;"},                        // no CP932 form
      {"Subject: =?iso-2022-jp?B?GyRCLSEbKEI=?= x\n", sjis("① x")},             // NEC row 13
      {"Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=\n =?ISO-2022-JP?B?GyRCJCQbKEI=?=\n", sjis("あい")},
      {"Subject: =?x-unknown?B?YWJj?=\n", "abc"},                              // unknown label: guessed
      {"Subject: broken =?utf-8?B?YWJj\n", "broken =?utf-8?B?YWJj"},           // no closer: left as is
      {"Subject: \xE6\x98\x9F\xE7\xA9\xBA\xE6\x98\x9F\x80\n", sjis("星空星") + "&#xFFFD;"},  // UTF-8, one bad byte
      {"Subject: \x82\xA0\xF9\xFC\n", sjis("あ") + "&#x1F631;"},   // docomo pictograph
      {"Subject: \x82\xA0\xF0\x40\n", sjis("あ〓")},                 // user-defined code
      {"Subject: =?iso-2022-jp?B?GyRCdUYbKEI=?=\n", "&#x1F4DD;"},       // au pictograph in JIS
      {"Subject: =?iso-2022-jp?B?GyRCeSEbKEI=?=\n", "\xED\x40"},       // NEC-selected IBM kanji 纊
      {"Subject: \xEF\xBB\xBFJ\xFCrgen\n", "J&#xFC;rgen"},             // Latin bytes, byte-order mark
  };
  for (const Case& c : cases) EXPECT_EQ(extended_subject(c.header), c.subject) << c.header;

  const std::string long_subject = extended_subject("Subject: " + std::string(600, 'a') + "\n");
  EXPECT_EQ(long_subject.size(), kMaxExtendedSubjectBytes);
  // A cut never splits a character or a numeric reference.
  std::string emoji = "Subject: =?utf-8?B?";
  for (int i = 0; i < 60; ++i) emoji += "8J+YgA==?= =?utf-8?B?";
  emoji += "YQ==?=\n";
  const std::string cut = extended_subject(emoji);
  EXPECT_LE(cut.size(), kMaxExtendedSubjectBytes);
  EXPECT_TRUE(cut.ends_with("&#x1F600;"));
}

TEST(Mime, BothBuildsGiveTheSameCp932) {
  struct Case {
    std::string_view charset;
    std::string_view bytes;
    std::string_view cp932;
  };
  const Case cases[] = {
      {"UTF-8", "\xE3\x80\x9C\xE2\x88\x92\xE2\x80\x96", "\x81\x60\x81\x7C\x81\x61"},  // 〜 − ‖ (JIS forms)
      {"utf-8", "\xEF\xBD\x9E\xEF\xBC\x8D\xE2\x88\xA5", "\x81\x60\x81\x7C\x81\x61"},  // ～ － ∥ (CP932 forms)
      {"utf-8", "\xC2\xA2\xC2\xA3\xC2\xAC\xE2\x80\x94", "\x81\x91\x81\x92\x81\xCA\x81\x5C"},  // ¢ £ ¬ —
      {"utf-8", "\xC2\xA5\xE2\x80\xBE", "&#xA5;&#x203E;"},                               // ¥ ‾
      {"utf-8", "\xF0\x9F\x98\x80\xC3\xA9", "&#x1F600;&#xE9;"},
      {"ISO-8859-15", "\xA4", "&#x20AC;"},
      {"windows-1252", "\x93q\x94", "\x81\x67q\x81\x68"},
      {"utf-8", "a&#x3d;&b", "a&#x26;#x3d;&b"},                    // a literal "&#" stays text
      {"utf-8", "\xEE\x80\x80", "&#xE000;"},                        // private use: no user-defined code
      {"UTF-7", "Fr+APY-sche +2D3eAA- 1+-1", "Fr&#xF6;sche &#x1F600; 1+1"},
      {"iso-8859-8-i", "\xF9", "&#x5E9;"},                             // labels iconv lacks
      {"Visual", "\xE0", "&#x5D0;"},
      {"ISO-8859-6-E", "\xC7", "&#x627;"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::charset_to_sjis(c.charset, c.bytes), c.cp932) << c.bytes;
  EXPECT_EQ(platform::charset_to_sjis("utf-8", "\xE3\x81"), std::nullopt);
  EXPECT_EQ(platform::charset_to_sjis("x-unknown", "abc"), std::nullopt);
  EXPECT_EQ(platform::charset_to_sjis("utf-7", "+2D3-"), std::nullopt);  // a lone surrogate
  EXPECT_EQ(platform::charset_to_sjis("utf-8", "\xED\xA0\x80"), std::nullopt);
  EXPECT_EQ(platform::charset_to_sjis("utf-8", "\xC0\xAF"), std::nullopt);  // overlong

  // A long text is converted whole, its characters wherever they fall, and
  // a byte that fits nowhere fails it wherever it is.
  std::string long_utf8;
  std::string long_cp932;
  for (int i = 0; i < 100'000; ++i) {
    long_utf8 += i % 7 ? "\xE3\x81\x82" : "a\xF0\x9F\x98\x80";  // あ, a😀
    long_cp932 += i % 7 ? "\x82\xA0" : "a&#x1F600;";
  }
  EXPECT_EQ(platform::charset_to_sjis("utf-8", long_utf8), long_cp932);
  EXPECT_EQ(platform::charset_to_sjis("utf-8", long_utf8 + "\xE3\x81"), std::nullopt);
  long_utf8[200'001] = '\xFF';
  EXPECT_EQ(platform::charset_to_sjis("utf-8", long_utf8), std::nullopt);
}

std::string page_body(std::string_view message) {
  const std::string text = extended_log_text(message);
  return std::string(text.substr(text.find("\n\n") + 2));
}

TEST(Mime, HtmlPartsKeepNothingThatRuns) {
  const std::string hostile[] = {
      "<script>alert(1)</script>",
      "<SCRIPT SRC=//x></SCRIPT>",
      "<img src=x onerror=alert(1)>",
      "<a href=\"jav&#x09;ascript:alert(1)\">x</a>",
      "<a href=\"&#106;avascript:alert(1)\">x</a>",
      "<a href=vbscript:x>x</a><a href='data:text/html,x'>y</a>",
      "<iframe src=http://x/></iframe><frameset><frame src=x></frameset>",
      "<object data=x></object><embed src=x><applet code=x></applet>",
      "<meta http-equiv=refresh content=0;url=http://x/><base href=http://x/>",
      "<div style=\"background:url(javascript:alert(1))\">x</div>",
      "<div style=\"width:expr/**/ession(alert(1))\">x</div>",
      "<div style=\"background:url( url( url(javascript:alert(1)) \">x</div><style>url(\"url(vbscript:x)</style>",
      "<style>@import 'http://x/a.css';</style>",
      "<svg onload=alert(1)><script>alert(1)</script></svg>",
      "<textarea><script>alert(1)</script></textarea>",
      "<<script>script>alert(1)<</script>/script>",
      "<a href=\"x\" onmouseover=\"alert(1)\"title=\"t\">x</a>",
      "<form action=http://x/><input name=q></form>",
  };
  for (const std::string& markup : hostile) {
    const std::string page = page_body("Content-Type: text/html\n\n<html><body>" + markup + "</body></html>\n");
    std::string lower = page;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::string_view bad : {"<script", "javascript:", "vbscript:", "data:", "onerror", "onload",
                                 "onmouseover", "<iframe", "<frame", "<object", "<embed", "<applet",
                                 "<meta http-equiv=refresh", "<base", "<form", "<input", "expression",
                                 "@import", "<svg", "<textarea"}) {
      EXPECT_EQ(lower.find(bad), std::string::npos) << markup << " -> " << page;
    }
  }
}

TEST(Mime, TextPartsCannotOpenTags) {
  // A reference the text writes stays text ("&#x26;" is "&"); only the
  // decoder's references (U+1F600 of UTF-8) stand for characters.
  const std::string page = page_body(
      "Subject: x\nContent-Type: text/plain; charset=utf-8\n\n<script>alert(1)</script> a&b &#x1F600; "
      "\xF0\x9F\x98\x80 http://x.jp/?a=1&b=2\n");
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; a&amp;b &#x26;#x1F600; &#x1F600; "), std::string::npos)
      << page;
  EXPECT_NE(page.find("<A HREF=\"http://x.jp/?a=1&amp;b=2\" target=new>"), std::string::npos) << page;
}

TEST(Mime, StoredLogKeepsItsBodyWhateverTheSubject) {
  // A decoded header never ends the header block early, and a long subject
  // (past byte 100) does not move the cut into the headers.
  const std::string message =
      "Subject: =?utf-8?B?" + std::string(200, 'Q') + "?=\nX-Odd: =?utf-8?Q?a=0A=0Ab?=\nX-Empty:\n\nbody\n";
  const std::string log = log_file_content(extended_subject(message), extended_log_text(message));
  ASSERT_TRUE(is_extended_log(log.substr(0, kLogHeadReadBytes)));
  EXPECT_TRUE(log_body_text(log).starts_with("<HTML>"));
  EXPECT_NE(log_body_text(log).find("body\n"), std::string_view::npos);
  // A log stored the classic way is cut as before.
  const std::string classic = log_file_content("<b>", "Subject: <b>\n\nbody\n");
  EXPECT_FALSE(is_extended_log(classic));
  EXPECT_EQ(link_text_from_log(classic), "<b>");
  EXPECT_EQ(link_text_from_log(log_file_content("<b>&amp;\"&#x1F600;", std::string(kExtendedLogMark))),
            "&lt;b&gt;&amp;amp;&quot;&#x1F600;");
}

// A message nested deeper or split into more parts than the decoder looks
// into still shows all its text: what is past the limits, raw and escaped.
TEST(Mime, NothingPastTheLimitsIsLost) {
  struct Case {
    std::string_view name;
    std::string message;
    std::string_view last_text;
  };
  std::string nested_multiparts;
  std::string nested_messages;
  std::string many_parts = "Content-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 40; ++i) {
    nested_multiparts += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                         std::to_string(i) + "\n";
    nested_messages += "Content-Type: message/rfc822\n\n";
  }
  for (int i = 0; i < 12'000; ++i) many_parts += "--b\n\npart " + std::to_string(i) + "\n";
  const Case cases[] = {
      {"nested multiparts", nested_multiparts + "\n<b>deep</b> text\n", "&lt;b&gt;deep&lt;/b&gt; text"},
      {"nested messages", nested_messages + "\n<b>deep</b> text\n", "&lt;b&gt;deep&lt;/b&gt; text"},
      {"many parts", many_parts + "--b--\n", "part 11999"},
  };
  for (const Case& c : cases) {
    const std::string page = page_body(c.message);
    EXPECT_NE(page.find(c.last_text), std::string::npos) << c.name << ": " << page.substr(0, 2000);
  }
}

// Every decoder of a receive is linear in its input: sixteen times the
// input may take sixteen times as long. The bound leaves room for a loaded
// machine and for the caches, which hold the small input and not the big
// one (quiet, the ratios run from 16 to about 30); a quadratic decoder takes
// about 256 times as long. The shortest of a few runs is compared, each
// timed by the processor time it took where std::clock counts it finely
// (POSIX: microseconds), so that neither a busy moment nor being kept
// waiting by other processes counts. On Windows std::clock counts
// milliseconds of wall time, so there the steady clock times the runs.
TEST(Mime, HostileMessagesTakeTimeInProportionToTheirSize) {
  constexpr std::size_t kSmall = 32 * 1024;
  constexpr double kAllowedRatio = 64;
  const auto seconds = [] {
    if constexpr (CLOCKS_PER_SEC >= 1'000'000) {
      return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
    } else {
      return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
  };
  const auto shortest = [&seconds](const std::string& message, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
      const double start = seconds();
      std::size_t size = extended_subject(message).size() + extended_log_text(message).size();
      size += decode_encoded_words(message).size() + jis_to_sjis_subject(message).size();
      size += jis_to_sjis_line(message).size() + convert_log_body(message).size();
      EXPECT_GT(size, 0u);
      best = std::min(best, seconds() - start);
    }
    return best;
  };
  for (const testing::HostileShape& shape : testing::kHostileShapes) {
    const double small = shortest(testing::hostile_message(shape, kSmall), 3);
    const double big = shortest(testing::hostile_message(shape, 16 * kSmall), 3);
    EXPECT_LT(big, kAllowedRatio * small) << shape.name << ": " << small << " s, then " << big << " s";
  }
}

// The link page has no size limit only for an account with extended mail
// handling; without the option a page reaching 260,000 bytes is refused.
class ExtendedLinkPage : public testing::InTempFolder {};

TEST_F(ExtendedLinkPage, HasNoLimitOnlyWithTheOption) {
  const std::string big(kMaxLinkPageBytes, 'x');
  EXPECT_EQ(link_page_limit(), kMaxLinkPageBytes);  // no account
  platform::create_folder("pop3mail");
  AccountRecord account{"acct", "pop.example.jp", "user", "pass", 0};
  ASSERT_TRUE(write_account(account));
  LinkPageInserter classic(big, link_page_limit());
  EXPECT_FALSE(classic.insert("1.htm", "a"));

  account.options = kAccountOptionExtendedMail;
  ASSERT_TRUE(write_account(account));
  LinkPageInserter extended(big, link_page_limit());
  EXPECT_TRUE(extended.insert("1.htm", "a"));
  EXPECT_GT(extended.size(), kMaxLinkPageBytes);
}

}  // namespace
}  // namespace larkspur
