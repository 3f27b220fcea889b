#include "site/link_sort.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "site/list_pages.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::put_file;
using testing::sj;

const std::string kHead = "<HTML><BODY><CENTER>\n";

std::string line(const std::string& text, const std::string& page = "p.htm") {
  return link_line(page, text);
}

TEST(LinkSortKey, IsTheTextAfterTheFirstSixByteRun) {
  struct Case {
    const char* name;
    std::string line;
    std::string key;
  };
  const Case cases[] = {
      {"link line", "<A HREF=1.htm target=main>Weekly 1</A><P>\n", "Weekly 1"},
      {"Japanese text", "<A HREF=1.htm target=main>" + sj("週刊") + "</A><P>\n", sj("週刊")},
      {"empty text", "<A HREF=1.htm target=main></A><P>\n", ""},
      {"no run", "<A HREF=1.htm target=new>x</A>\n", ""},
      {"no '<' before the LF", "<A HREF=1.htm target=main>x\n<", ""},
      {"longer run starts the key after six bytes", "x=main>>y<\n", ">y"},
      {"run of other arrangement", "mania=k<\n", "k"},
      {"run cut one byte short, then whole", "aimn=Xaimn=>k<\n", "k"},
      {"key bytes from the set themselves", "aaaaaaaa<\n", "aa"},
      {"run only after the LF", "x\n=main>k<", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(link_sort_key(c.line), c.key) << c.name;
}

TEST(CompareLinkKeys, UsesSignedBytes) {
  struct Case {
    std::string a, b;
    int sign;
  };
  const Case cases[] = {
      {"B", "A", 1},
      {"A", sj("あ"), 1},  // 0x82 counts as negative
      {"", sj("あ"), 1},
      {"", "A", -1},
      {"ab", "ab" + sj("あ"), 1},
      {"ab", "abc", -1},
      {"same", "same", 0},
  };
  for (const Case& c : cases) {
    const int result = compare_link_keys(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " / " << c.b;
  }
}

TEST(SortLinkPage, OrdersDescendingAndStable) {
  const std::string closing(kLinkPageClosing);
  struct Case {
    const char* name;
    std::string page;
    std::optional<std::string> sorted;
  };
  const Case cases[] = {
      {"no link: untouched", kHead + "</CENTER></BODY></HTML>\n", std::nullopt},
      {"empty page", "", std::nullopt},
      {"ASCII, then empty keys, then Japanese",
       kHead + line(sj("あ")) + line("b") + line("", "1") + line("c") + line("", "2") + line(sj("い")) +
           "</CENTER></BODY></HTML>\n",
       kHead + line("c") + line("b") + line("", "1") + line("", "2") + line(sj("い")) + line(sj("あ")) + closing},
      {"equal keys keep their order",
       kHead + line("x", "1") + line("y") + line("x", "2") + line("x", "3") + "</CENTER>\n",
       kHead + line("y") + line("x", "1") + line("x", "2") + line("x", "3") + closing},
      {"new lines above a sorted tail, equal keys in page order",
       kHead + line("b", "n1") + line("x", "n2") + line("z") + line("x", "1") + line("b", "2") + line("a") +
           "</CENTER>\n",
       kHead + line("z") + line("x", "n2") + line("x", "1") + line("b", "n1") + line("b", "2") + line("a") +
           closing},
      {"shorter key above a continuation with Japanese",
       kHead + line("ab" + sj("あ")) + line("ab") + line("abc") + "</CENTER>\n",
       kHead + line("abc") + line("ab") + line("ab" + sj("あ")) + closing},
      {"head with <A HREF followed by the closing", "<A HREF=x>\n</CENTER></BODY></HTML>\n",
       "<A HREF=x>\n" + closing},
      {"closing found by any order of </CE", kHead + line("a") + "EC/<x\nrest\n", kHead + line("a") + closing},
      {"lower-case closing is no closing", kHead + line("a") + "</center></body></html>\n",
       kHead + line("a") + "</center></body></html>\n" + closing},
      {"closing that starts inside a line", kHead + line("a") + line("b") + "<A HREF=q target=main>c</A><P></CENTER>\n",
       kHead + "<A HREF=q target=main>c</A><P>\n" + line("b") + line("a") + closing},
      {"page without a LF", "<A HREF=x target=main>t</A>", "<A HREF=x target=main>t</A>" + closing},
      {"link texts ending in CE or EE keep the lines after them",
       kHead + line("NOTICE", "1") + line("COFFEE", "2") + line("a", "3") + "</CENTER>\n",
       kHead + line("a", "3") + line("NOTICE", "1") + line("COFFEE", "2") + closing},
      {"a run of </CE anywhere inside a link line is no closing",
       kHead + line("[x] ECCE HOMO", "1") + line("////", "2") + line("CCCP", "3") + line("a", "4") +
           line("E/<C", "5") + "</CENTER>\n",
       kHead + line("a", "4") + line("[x] ECCE HOMO", "1") + line("E/<C", "5") + line("CCCP", "3") +
           line("////", "2") + closing},
      {"a line that only begins like a link line keeps the rule",
       kHead + line("a") + "<A HREF=q target=main>ECCE x\n" + line("b"),
       kHead + line("a") + "<A HREF=q target=main>\n" + closing},
  };
  for (const Case& c : cases) EXPECT_EQ(sort_link_page(c.page), c.sorted) << c.name;
}

TEST(SortLinkPage, HandlesLongPagesAndLines) {
  std::string page = "<HTML>" + std::string(500, 'h') + "\n";
  std::string expected = page;
  for (int i = 0; i < 3000; ++i) page += line(std::to_string(10000 + i) + std::string(300, 'x'));
  for (int i = 2999; i >= 0; --i) expected += line(std::to_string(10000 + i) + std::string(300, 'x'));
  page += "</CENTER>\n";
  EXPECT_EQ(sort_link_page(page), expected + std::string(kLinkPageClosing));
}

class SortLinkPages : public testing::InTempFolder {
 protected:
  static void add_list(const std::string& name, const std::optional<std::string>& menu) {
    write_list(name, ListRecord{});
    platform::create_folder("LKset\\" + name);
    platform::create_folder("LKset\\" + name + "\\web");
    if (menu) put_file("LKset\\" + name + "\\web\\menu.htm", *menu);
  }
};

TEST_F(SortLinkPages, RewritesEveryListWithLinks) {
  platform::create_folder("LKset");
  const std::string seed_only = kHead + "</CENTER></BODY>\n</HTML>\n";
  add_list("A", kHead + line("a") + line("b") + "</CENTER></BODY></HTML>\n");
  add_list(sj("週刊"), kHead + line("1") + line("2") + "</CENTER>\n");
  add_list("C", seed_only);
  add_list("D", std::nullopt);
  sort_link_pages();
  EXPECT_EQ(get_file("LKset\\A\\web\\menu.htm"), kHead + line("b") + line("a") + std::string(kLinkPageClosing));
  EXPECT_EQ(get_file("LKset\\" + sj("週刊") + "\\web\\menu.htm"),
            kHead + line("2") + line("1") + std::string(kLinkPageClosing));
  EXPECT_EQ(get_file("LKset\\C\\web\\menu.htm"), seed_only);
  EXPECT_EQ(get_file("LKset\\D\\web\\menu.htm"), "<missing>");
}

}  // namespace
}  // namespace larkspur
