#include "site/list_pages.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "site/link_sort.h"
#include "site/log_page.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::put_file;
using testing::ScriptedUi;
using testing::sj;

TEST(LinkText, IsTheFirstLineOfTheLog) {
  struct Case {
    const char* name;
    std::string log;
    std::string text;
  };
  const Case cases[] = {
      {"subject line", sj("【週刊】第1号") + "\n\n\nFrom: a\n", sj("【週刊】第1号")},
      {"empty subject", "\n\n\nFrom: a\n", ""},
      {"empty log", "", ""},
      {"no LF loses its last byte", "abc", "ab"},
      {"long line keeps 510 bytes", std::string(600, 'x') + "\n", std::string(510, 'x')},
      {"line of exactly 510 bytes fits", std::string(510, 'y') + "\nz", std::string(510, 'y')},
      {"ends at a NUL", std::string("ab\0cd\n", 6), "ab"},
  };
  for (const Case& c : cases) EXPECT_EQ(link_text_from_log(c.log), c.text) << c.name;
}

TEST(LogBody, StartsAfterTheFirstBlankLinePastByte100) {
  const std::string headers = "From: a@b.jp\nSubject: x\n\n";
  const std::string body = "Hello\n\nWorld\n";
  struct Case {
    const char* name;
    std::string log;
    std::string shown;
  };
  const Case cases[] = {
      {"short subject skips subject and headers",
       "Sub\n\n\n" + headers + std::string(100, 'h') + "\n\n" + body,
       body},
      {"subject of 99 bytes", std::string(99, 's') + "\n\n\n" + headers + body, body},
      {"subject of 100 bytes shows from the third LF", std::string(100, 's') + "\n\n\n" + headers + body,
       "\n" + headers + body},
      {"no blank line past 100", std::string(120, 'x') + "\nline\n", std::string(120, 'x') + "\nline\n"},
      {"blank line only before 100", "a\n\n" + std::string(150, 'x'), "a\n\n" + std::string(150, 'x')},
      {"run of LF past 100", std::string(150, 'x') + "\n\n\n\nz", "\n\nz"},
  };
  for (const Case& c : cases) EXPECT_EQ(log_body_text(c.log), c.shown) << c.name;
}

// Inserting one line the slow way: read, split at the first LF, rewrite.
std::optional<std::string> insert_once(const std::string& page, const std::string& line) {
  std::string head;
  std::string rest;
  if (!page.empty()) {
    const std::size_t lf = page.find('\n');
    head = page.substr(0, lf) + "\n";
    if (lf != std::string::npos) rest = page.substr(lf + 1);
  }
  std::string result = head + line + rest;
  if (result.size() >= kMaxLinkPageBytes) return std::nullopt;
  return result;
}

TEST(LinkPageInserter, GivesTheBytesOfOneRewritePerInsertion) {
  const std::vector<std::string> starts = {
      "", "\n", "<HTML><BODY><CENTER>", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n",
      "<HEAD>\n" + std::string(kMaxLinkPageBytes - 300, 'z') + "\n"};
  std::mt19937 random(4);
  for (const std::string& start : starts) {
    for (int round = 0; round < 20; ++round) {
      std::string expected = start;
      LinkPageInserter inserter(start);
      bool changed = false;
      for (int i = 0; i < 12; ++i) {
        const std::string name = std::to_string(i) + ".htm";
        const std::string text(random() % 120, 'a' + static_cast<char>(i));
        const std::optional<std::string> next = insert_once(expected, link_line(name, text));
        EXPECT_EQ(inserter.insert(name, text), next.has_value());
        if (next) {
          expected = *next;
          changed = true;
        }
        ASSERT_EQ(inserter.size(), expected.size());
      }
      EXPECT_EQ(inserter.changed(), changed);
      EXPECT_EQ(inserter.bytes(), expected);
    }
  }
}

class ListPages : public testing::InTempFolder {
 protected:
  void SetUp() override {
    platform::create_folder("set");
    platform::create_folder("LKset");
    platform::create_folder("LKset\\W");
  }
  static void seed() {
    put_file("set\\menu.htm", kSeedMenu);
    put_file("set\\index.htm", "<HTML>index</HTML>\n");
  }
  static std::string log(const std::string& subject, const std::string& body) {
    return subject + "\n\n\nFrom: a@b.jp\nSubject: x\n" + std::string(90, 'X') + "\n\n" + body;
  }
  static inline const std::string kHead = "<HTML><BODY><CENTER>\n";
  static inline const std::string kClosing = "</CENTER></BODY></HTML>\n";
  static inline const std::string kSeedMenu = kHead + kClosing;
  ScriptedUi ui{ScriptedUi::Unscripted::kAnswerNo};
};

TEST_F(ListPages, FirstCallSeedsAndLinksEveryLogNewestHandledFirst) {
  seed();
  put_file("LKset\\W\\20240101000000_1.log", log(sj("第1号"), "one http://a.jp/\n"));
  put_file("LKset\\W\\20240102000000_1.log", log(sj("第2号"), "two\n"));
  update_list_pages("LKset\\W", ui);

  EXPECT_EQ(get_file("LKset\\W\\web\\index.htm"), "<HTML>index</HTML>\n");
  EXPECT_EQ(get_file("LKset\\W\\web\\down.htm"), down_page());
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"),
            "<HTML><BODY><CENTER>\n"
            "<A HREF=20240102000000_1.htm target=main>" + sj("第2号") + "</A><P>\n"
            "<A HREF=20240101000000_1.htm target=main>" + sj("第1号") + "</A><P>\n"
            "</CENTER></BODY></HTML>\n");
  EXPECT_EQ(get_file("LKset\\W\\web\\20240101000000_1.htm"),
            convert_log_body("one http://a.jp/\n"));
  EXPECT_EQ(get_file("LKset\\W\\web\\20240102000000_1.htm"), convert_log_body("two\n"));
  EXPECT_TRUE(ui.calls.empty());
}

TEST_F(ListPages, LaterCallsTouchOnlyNewLogsAndDownPage) {
  seed();
  put_file("LKset\\W\\1.log", log("A", "a\n"));
  update_list_pages("LKset\\W", ui);
  const std::string menu = get_file("LKset\\W\\web\\menu.htm");
  put_file("LKset\\W\\web\\1.htm", "kept");
  platform::delete_file("LKset\\W\\web\\down.htm");
  put_file("set\\extra.htm", "not copied again");

  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"), menu);
  EXPECT_EQ(get_file("LKset\\W\\web\\1.htm"), "kept");
  EXPECT_EQ(get_file("LKset\\W\\web\\down.htm"), down_page());
  EXPECT_EQ(get_file("LKset\\W\\web\\extra.htm"), "<missing>");

  put_file("LKset\\W\\2.log", log("B", "b\n"));
  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"),
            "<HTML><BODY><CENTER>\n<A HREF=2.htm target=main>B</A><P>\n"
            "<A HREF=1.htm target=main>A</A><P>\n</CENTER></BODY></HTML>\n");
}

TEST_F(ListPages, WithoutSeedTheFirstLinkLineBecomesTheHead) {
  put_file("LKset\\W\\1.log", log("A", "a\n"));
  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"), "<A HREF=1.htm target=main>A</A><P>\n");
  platform::delete_file("LKset\\W\\web\\1.htm");
  platform::delete_file("LKset\\W\\web\\menu.htm");
  put_file("LKset\\W\\2.log", log("B", "b\n"));
  put_file("LKset\\W\\3.log", log("C", "c\n"));
  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"),
            "<A HREF=1.htm target=main>A</A><P>\n"
            "<A HREF=3.htm target=main>C</A><P>\n"
            "<A HREF=2.htm target=main>B</A><P>\n");
  EXPECT_EQ(get_file("LKset\\W\\web\\index.htm"), "<missing>");
}

TEST_F(ListPages, SizeRefusalLeavesTheLinkPageAndStillWritesTheLogPage) {
  // One line short of the limit: "<A HREF=1.htm target=main>A</A><P>\n" is 35
  // bytes, so a page of 259,965 bytes takes none.
  const std::string head = "<HTML><BODY><CENTER>\n";
  const std::string closing = "</CENTER></BODY></HTML>\n";
  const std::string filler = "<!--" + std::string(kMaxLinkPageBytes - 35 - head.size() - closing.size() - 8, 'f') + "-->\n";
  const std::string menu = head + filler + closing;
  ASSERT_EQ(menu.size() + link_line("1.htm", "A").size(), kMaxLinkPageBytes);
  platform::create_folder("LKset\\W\\web");
  put_file("LKset\\W\\web\\menu.htm", menu);
  put_file("LKset\\W\\1.log", log("A", "a\n"));

  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"), menu);
  EXPECT_EQ(get_file("LKset\\W\\web\\1.htm"), convert_log_body("a\n"));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].kind, ScriptedUi::Kind::kNotify);
  EXPECT_EQ(ui.calls[0].message.caption, sj("お知らせ"));
  EXPECT_EQ(ui.calls[0].message.text, sj("超過サイズです。処理できませんでした。"));
  EXPECT_EQ(ui.calls[0].message.icon, MessageIcon::kInformation);

  // A shorter line still fits after a refused one in the same update.
  put_file("LKset\\W\\0.log", log(std::string(40, 'L'), "0\n"));
  put_file("LKset\\W\\2.log", log("", "2\n"));
  ui.calls.clear();
  update_list_pages("LKset\\W", ui);
  EXPECT_EQ(get_file("LKset\\W\\web\\menu.htm"),
            head + "<A HREF=2.htm target=main></A><P>\n" + filler + closing);
  EXPECT_EQ(ui.notices(), std::vector<std::string>{sj("超過サイズです。処理できませんでした。")});
}

TEST_F(ListPages, ALinkLineGoesBelowTheHeadOrTheLinkPageStaysAsItWas) {
  LinkPageInserter page(kSeedMenu);
  EXPECT_TRUE(page.insert("1.htm", "A\nB"));
  EXPECT_EQ(page.bytes(),
            "<HTML><BODY><CENTER>\n<A HREF=1.htm target=main>AB</A><P>\n</CENTER></BODY></HTML>\n");
  EXPECT_FALSE(page.insert("2.htm", std::string(kMaxLinkPageBytes, 'x')));
  EXPECT_EQ(page.bytes(),
            "<HTML><BODY><CENTER>\n<A HREF=1.htm target=main>AB</A><P>\n</CENTER></BODY></HTML>\n");
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++count;
  return count;
}

TEST_F(ListPages, LogWhosePageWentMissingAfterItsLinkGetsThePageButNoSecondLink) {
  struct Case {
    const char* name;
    bool block_page;  // the page cannot be written in the first update
    bool delete_page;  // the page is removed after the first update
  };
  const Case cases[] = {
      {"interrupted before the page", true, false},
      {"page removed afterwards", false, true},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    SetUp();
    seed();
    put_file("LKset\\W\\1.log", log("A", "a\n"));
    put_file("LKset\\W\\2.log", log("B", "b\n"));
    platform::create_folder("LKset\\W\\web");
    if (c.block_page) platform::create_folder("LKset\\W\\web\\1.htm");
    update_list_pages("LKset\\W", ui);
    if (c.block_page) platform::remove_folder("LKset\\W\\web\\1.htm");
    if (c.delete_page) platform::delete_file("LKset\\W\\web\\1.htm");
    ASSERT_EQ(get_file("LKset\\W\\web\\1.htm"), "<missing>") << c.name;

    update_list_pages("LKset\\W", ui);
    const std::string menu = get_file("LKset\\W\\web\\menu.htm");
    EXPECT_EQ(count_of(menu, "<A HREF=1.htm "), 1u) << c.name << "\n" << menu;
    EXPECT_EQ(count_of(menu, "<A HREF=2.htm "), 1u) << c.name << "\n" << menu;
    EXPECT_EQ(get_file("LKset\\W\\web\\1.htm"), convert_log_body("a\n")) << c.name;
  }
}

TEST_F(ListPages, LinkPageGoneWhileThePagesStayComesBackWhole) {
  struct Case {
    const char* name;
    bool seeded;       // set\menu.htm exists
    bool pages_made;   // the logs had their pages before the link page went
  };
  const Case cases[] = {
      {"link page deleted", true, true},
      {"stopped between the seed pages and the link page", true, false},
      {"link page deleted, no seed link page", false, true},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    SetUp();
    if (c.seeded) seed();
    put_file("LKset\\W\\1.log", log("A", "a\n"));
    put_file("LKset\\W\\2.log", log("B", "b\n"));
    if (c.pages_made) {
      update_list_pages("LKset\\W", ui);
    } else {
      platform::create_folder("LKset\\W\\web");
      put_file("LKset\\W\\web\\index.htm", "<HTML>index</HTML>\n");
    }
    platform::delete_file("LKset\\W\\web\\menu.htm");
    put_file("LKset\\W\\3.log", log("C", "c\n"));

    update_list_pages("LKset\\W", ui);
    const std::string lines = "<A HREF=3.htm target=main>C</A><P>\n<A HREF=2.htm target=main>B</A><P>\n";
    const std::string expected = c.seeded ? kHead + lines + "<A HREF=1.htm target=main>A</A><P>\n" + kClosing
                                          : "<A HREF=1.htm target=main>A</A><P>\n" + lines;
    EXPECT_EQ(sort_link_page(get_file("LKset\\W\\web\\menu.htm")).value_or(""),
              expected + (c.seeded ? "" : std::string(kLinkPageClosing)))
        << c.name;
    EXPECT_EQ(get_file("LKset\\W\\web\\1.htm"), convert_log_body("a\n")) << c.name;
  }
}

TEST_F(ListPages, ManyLogsAreAllLinked) {
  seed();
  for (int i = 0; i < 1500; ++i) put_file("LKset\\W\\" + std::to_string(100000 + i) + ".log", log("S", "b\n"));
  update_list_pages("LKset\\W", ui);
  const std::string menu = get_file("LKset\\W\\web\\menu.htm");
  std::size_t lines = 0;
  for (std::size_t p = menu.find("<A HREF="); p != std::string::npos; p = menu.find("<A HREF=", p + 1)) ++lines;
  EXPECT_EQ(lines, 1500u);
  EXPECT_NE(get_file("LKset\\W\\web\\101499.htm"), "<missing>");
}

}  // namespace
}  // namespace larkspur
