#include "site/log_page.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::sj;

std::string wrapped(const std::string& converted) {
  return std::string(kLogPageHead) + converted + std::string(kLogPageTail);
}

struct HtmlCase {
  const char* name;
  std::string body;
  bool html;
};

TEST(HtmlTest, LooksForASixByteRunWithinEighteenBytes) {
  const HtmlCase cases[] = {
      {"upper case first line", "<HTML>\n<BODY>x</BODY></HTML>", true},
      {"lower case", "<html><body>", true},
      {"mixed case", "<Html>\n<body>", false},
      {"after twelve other bytes", "123456789012<HTML>", true},
      {"after thirteen other bytes", "1234567890123<HTML>", false},
      {"doctype first", "<!DOCTYPE html>\n<html>", false},
      {"any arrangement of the set", "<<hhh>", true},
      {"run of five at the end", "1234567890123<HTM", false},
      {"empty", "", false},
  };
  for (const HtmlCase& c : cases) {
    EXPECT_EQ(is_html_document(c.body), c.html) << c.name;
    EXPECT_EQ(convert_log_body(c.body) == c.body, c.html) << c.name;
  }
}

struct ConvertCase {
  const char* name;
  std::string body;
  std::string converted;  // between page head and tail
};

TEST(ConvertLogBody, LinksAddressesExactly) {
  const ConvertCase cases[] = {
      {"empty text", "", ""},
      {"plain text and markup pass unchanged", "a < b & c > d\n", "a < b & c > d\n"},
      {"web address in a sentence", "see http://a.example.jp/x?y=1&z=%20#f now",
       "see <A HREF=http://a.example.jp/x?y=1&z=%20#f target=new>"
       "http://a.example.jp/x?y=1&z=%20#f</A> now"},
      {"ftp address", "ftp://f.jp/p\n", "<A HREF=ftp://f.jp/p target=new>ftp://f.jp/p</A>\n"},
      {"https is not linked", "https://a.jp/x", "https://a.jp/x"},
      {"capital HTTP is not linked", "HTTP://a.jp/x", "HTTP://a.jp/x"},
      {"directly after URL:", "URL:http://a.jp/", "URL:<A HREF=http://a.jp/ target=new>http://a.jp/</A>"},
      {"cut at a parenthesis", "(http://a.jp/x)", "(<A HREF=http://a.jp/x target=new>http://a.jp/x</A>)"},
      {"cut at a comma and a quote", "\"http://a.jp\",",
       "\"<A HREF=http://a.jp target=new>http://a.jp</A>\","},
      {"cut at a Japanese character", "http://a.jp/" + sj("です"),
       "<A HREF=http://a.jp/ target=new>http://a.jp/</A>" + sj("です")},
      {"bare prefix before a space", "http:// x", "<A HREF=http:// target=new>http://</A> x"},
      {"at-sign inside an address stays in it", "http://u@h.jp/ ",
       "<A HREF=http://u@h.jp/ target=new>http://u@h.jp/</A> "},
      {"one @ and no dot scores 100", "x a@b y", "x a@b y"},
      {"one @ and one dot scores 101", "x a@b.c y", "x <A HREF=mailto:a@b.c >a@b.c</A> y"},
      {"two @ score 200", "x a@b@c", "x <A HREF=mailto:a@b@c >a@b@c</A>"},
      {"many dots never reach 101", "x a.b.c.d.e", "x a.b.c.d.e"},
      {"mailto word gets no second prefix", " mailto:a@b.jp",
       " <A HREF=mailto:a@b.jp >mailto:a@b.jp</A>"},
      {"word at byte 0 is linked whole", "ab@c.jp rest", "<A HREF=mailto:ab@c.jp >ab@c.jp</A> rest"},
      {"leading punctuation stays plain", "-a@b.jp _c@d.jp", "-<A HREF=mailto:a@b.jp >a@b.jp</A> _<A HREF=mailto:c@d.jp >c@d.jp</A>"},
      {"katakana trail byte starts the word", sj("ア") + "b@c.jp",
       "\x83<A HREF=mailto:Ab@c.jp >Ab@c.jp</A>"},
      {"word ends at a LF", "a@b.jp\nz", "<A HREF=mailto:a@b.jp >a@b.jp</A>\nz"},
      {"failed word followed by an address", "a.b/http://x.jp",
       "a.b/<A HREF=http://x.jp target=new>http://x.jp</A>"},
      {"address then mail", "http://a.jp/ b@c.jp",
       "<A HREF=http://a.jp/ target=new>http://a.jp/</A> <A HREF=mailto:b@c.jp >b@c.jp</A>"},
      {"text ends at a NUL", std::string("ab\0http://x.jp", 14), "ab"},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(convert_log_body(c.body), wrapped(c.converted)) << c.name;
  }
}

TEST(ConvertLogBody, LongAddressesAndWordsAreLinkedWhole) {
  const std::string address = "http://a.jp/" + std::string(400, 'p');
  EXPECT_EQ(convert_log_body(address),
            wrapped("<A HREF=" + address + " target=new>" + address + "</A>"));
  const std::string word = std::string(300, 'u') + "@example.jp";
  EXPECT_EQ(convert_log_body(" " + word),
            wrapped(" <A HREF=mailto:" + word + " >" + word + "</A>"));
}

TEST(ConvertLogBody, LargeBodiesAreKeptWholeAndConvertedInLinearTime) {
  // A long word that never qualifies must not be re-read from each of its
  // bytes, and nothing is cut at any size.
  const std::string run(2'000'000, 'a');
  EXPECT_EQ(convert_log_body(run), wrapped(run));
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "x a@b.jp http://h.jp/" + std::to_string(i) + "\n";
  const std::string page = convert_log_body(many);
  EXPECT_GT(page.size(), 199'999u);
  EXPECT_TRUE(page.ends_with("http://h.jp/19999</A>\n" + std::string(kLogPageTail)));
}

class WriteLogPage : public testing::InTempFolder {};

TEST_F(WriteLogPage, WritesEveryByteUnchanged) {
  const std::string body = "line1\r\n" + sj("本文") + "\n\n";
  write_log_page(body, "p.htm");
  EXPECT_EQ(testing::get_file("p.htm"), wrapped(body));
  write_log_page("x", "missing\\p.htm");  // no such folder: skipped silently
  EXPECT_EQ(testing::get_file("missing\\p.htm"), "<missing>");
}

}  // namespace
}  // namespace larkspur
