#include "site/rebuild.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/log_page.h"
#include "tests/site/lock_probe.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::put_file;
using testing::ScriptedUi;
using testing::sj;
using Kind = ScriptedUi::Kind;

const std::string kSeedMenu = "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n";
const std::string kClosing(kLinkPageClosing);

std::string log(const std::string& subject, const std::string& body) {
  return subject + "\n\n\nFrom: a@b.jp\nSubject: x\n" + std::string(90, 'X') + "\n\n" + body;
}

class Rebuild : public testing::InTempFolder {
 protected:
  void SetUp() override {
    create_working_folders();
    put_file("set\\menu.htm", kSeedMenu);
    put_file("set\\index.htm", "index\n");
    ui.on_notify = [this](const Message&) { locked_notices += testing::site_lock_is_free() ? 0 : 1; };
  }
  static void add_list(const std::string& name, int new_mail = 0) {
    ListRecord record;
    record.search_text = name;
    record.new_mail = new_mail;
    write_list(name, record);
    platform::create_folder(list_folder(name));
  }
  // A list with logs and a web folder as an earlier version left it.
  static void add_stale_list(const std::string& name) {
    add_list(name, 1);
    put_file(list_folder(name) + "\\1.log", log("b " + name, "one\n"));
    put_file(list_folder(name) + "\\2.log", log(sj("あ") + name, "two http://x.jp/\n"));
    put_file(list_folder(name) + "\\3.log", log("c " + name, "three\n"));
    platform::create_folder(list_web_folder(name));
    put_file(list_web_folder(name) + "\\menu.htm", "old menu\n<A HREF=1.htm target=main>old</A><P>\n");
    put_file(list_web_folder(name) + "\\1.htm", "old page");
    put_file(list_web_folder(name) + "\\stray.htm", "stray");
    put_file(list_web_folder(name) + "\\keep.txt", "not a page");
  }
  static std::string fresh_menu(const std::string& name) {
    return "<HTML><BODY><CENTER>\n"
           "<A HREF=3.htm target=main>c " + name + "</A><P>\n"
           "<A HREF=1.htm target=main>b " + name + "</A><P>\n"
           "<A HREF=2.htm target=main>" + sj("あ") + name + "</A><P>\n" + kClosing;
  }
  std::vector<std::string> panel_names() const {
    std::vector<std::string> names;
    for (const ListPanelSlot& slot : table.snapshot()) {
      if (!slot.page_path.empty()) names.push_back(slot.list_name);
    }
    return names;
  }

  ScriptedUi ui{ScriptedUi::Unscripted::kAnswerNo};
  ListPanelTable table;
  int locked_notices = 0;
};

TEST_F(Rebuild, AnsweringNoChangesNothing) {
  add_stale_list("A");
  ui.answers = {false};
  rebuild_site(ui, table);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].kind, Kind::kConfirm);
  EXPECT_EQ(ui.calls[0].message.caption, sj("確認"));
  EXPECT_EQ(ui.calls[0].message.text,
            sj("全てのHTML文書を一度全て削除して\nログファイルからHTML文書を再編成します。\nよろしいですか？"));
  EXPECT_EQ(ui.calls[0].message.icon, MessageIcon::kQuestion);
  EXPECT_EQ(get_file("LKset\\A\\web\\menu.htm"), "old menu\n<A HREF=1.htm target=main>old</A><P>\n");
  EXPECT_EQ(get_file("LKset\\A\\web\\1.htm"), "old page");
  EXPECT_EQ(get_file("LKset\\A\\web\\2.htm"), "<missing>");
  EXPECT_EQ(table.shown_count(), 0);
}

TEST_F(Rebuild, WithNoListsOnlyTheRefreshRuns) {
  ListPanelTable::Slots stale{};
  stale[0] = {"gone", "LKset\\gone\\web\\index.htm", 1};
  table.replace(stale);
  ui.answers = {true};
  rebuild_site(ui, table);
  ASSERT_EQ(ui.calls.size(), 2u);
  EXPECT_EQ(ui.calls[0].kind, Kind::kConfirm);
  EXPECT_EQ(ui.calls[1].kind, Kind::kPanelChanged);
  EXPECT_EQ(table.shown_count(), 0);
}

TEST_F(Rebuild, RegeneratesEveryListFromItsLogs) {
  add_stale_list("A");
  add_stale_list("B");
  add_list("C");  // no logs yet
  ui.answers = {true};
  rebuild_site(ui, table);

  for (const std::string name : {"A", "B"}) {
    const std::string web = "LKset\\" + name + "\\web\\";
    EXPECT_EQ(get_file(web + "menu.htm"), fresh_menu(name));
    EXPECT_EQ(get_file(web + "1.htm"), convert_log_body("one\n"));
    EXPECT_EQ(get_file(web + "2.htm"), convert_log_body("two http://x.jp/\n"));
    EXPECT_EQ(get_file(web + "stray.htm"), "<missing>");
    EXPECT_EQ(get_file(web + "keep.txt"), "not a page");
    EXPECT_EQ(get_file(web + "index.htm"), "index\n");
    EXPECT_EQ(read_list_or_zero(name).new_mail, 1);
  }
  EXPECT_EQ(platform::find_files("LKset\\C\\web\\*.*"),
            (std::vector<std::string>{"down.htm", "index.htm", "menu.htm"}));
  EXPECT_EQ(get_file("LKset\\C\\web\\menu.htm"), kSeedMenu);

  ASSERT_EQ(ui.calls.size(), 3u);
  EXPECT_EQ(ui.calls[1].kind, Kind::kNotify);
  EXPECT_EQ(ui.calls[1].message.caption, sj("お知らせ"));
  EXPECT_EQ(ui.calls[1].message.text, sj("全てのHTML文書を再編成しました"));
  EXPECT_EQ(ui.calls[1].message.icon, MessageIcon::kInformation);
  EXPECT_EQ(ui.calls[2].kind, Kind::kPanelChanged);
  EXPECT_EQ(panel_names(), (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_EQ(locked_notices, 0);
}

TEST_F(Rebuild, PageThatCannotGoKeepsItsOldPageAndGetsNoLink) {
  add_stale_list("A");
  add_stale_list("B");
  std::vector<std::string> attempts;
  const auto delete_page = [&](std::string_view path) {
    attempts.emplace_back(path);
    if (path == "LKset\\B\\web\\1.htm" || path == "LKset\\B\\web\\stray.htm") return false;
    return platform::delete_file(path);
  };
  ui.answers = {true};
  rebuild_site(ui, table, delete_page);

  // Lists in search order, each folder's pages from the last found to the first.
  EXPECT_EQ(attempts, (std::vector<std::string>{
                          "LKset\\A\\web\\stray.htm", "LKset\\A\\web\\menu.htm", "LKset\\A\\web\\1.htm",
                          "LKset\\B\\web\\stray.htm", "LKset\\B\\web\\menu.htm", "LKset\\B\\web\\1.htm"}));
  EXPECT_EQ(ui.notices(), (std::vector<std::string>{"LKset\\B\\web\\stray.htm", "LKset\\B\\web\\1.htm",
                                                    sj("全てのHTML文書を再編成しました")}));
  EXPECT_EQ(ui.calls[1].message.caption, sj("削除エラー"));
  EXPECT_EQ(ui.calls[1].message.icon, MessageIcon::kInformation);

  EXPECT_EQ(get_file("LKset\\B\\web\\1.htm"), "old page");
  EXPECT_EQ(get_file("LKset\\B\\web\\stray.htm"), "stray");
  // The seed copies come back beside the page that stayed, and the fresh link
  // page has the seed's head line.
  EXPECT_EQ(get_file("LKset\\B\\web\\menu.htm"),
            "<HTML><BODY><CENTER>\n<A HREF=3.htm target=main>c B</A><P>\n"
            "<A HREF=2.htm target=main>" + sj("あ") + "B</A><P>\n" + kClosing);
  EXPECT_EQ(get_file("LKset\\B\\web\\index.htm"), "index\n");
  EXPECT_EQ(get_file("LKset\\B\\web\\down.htm"), down_page());
  EXPECT_EQ(get_file("LKset\\A\\web\\menu.htm"), fresh_menu("A"));
  EXPECT_EQ(locked_notices, 0);
}

TEST_F(Rebuild, LinkPageThatCannotGoTakesTheNewLinesWithoutReseeding) {
  add_stale_list("A");
  const auto delete_page = [](std::string_view path) {
    return path != "LKset\\A\\web\\menu.htm" && platform::delete_file(path);
  };
  ui.answers = {true};
  rebuild_site(ui, table, delete_page);
  // 1.htm is linked in the old page already, so it gets no second line.
  EXPECT_EQ(get_file("LKset\\A\\web\\menu.htm"),
            "old menu\n<A HREF=1.htm target=main>old</A><P>\n<A HREF=3.htm target=main>c A</A><P>\n"
            "<A HREF=2.htm target=main>" + sj("あ") + "A</A><P>\n" + kClosing);
  // The other seed copies come back all the same.
  EXPECT_EQ(get_file("LKset\\A\\web\\index.htm"), "index\n");
}

TEST_F(Rebuild, DeletesNothingThroughALinkedFolder) {
  // The link leads out of the working folder ("work") to "outside".
  struct Case {
    const char* name;
    const char* link;     // what is made a link, inside work
    const char* outside;  // the page that must stay, outside work
  };
  const Case cases[] = {
      {"web folder", "LKset/A/web", "outside/stray.htm"},
      {"list folder", "LKset/A", "outside/web/stray.htm"},
  };
  namespace fs = std::filesystem;
  for (const Case& c : cases) {
    testing::TempFolder folder;
    fs::create_directories("outside/web");
    put_file("outside\\stray.htm", "stray");
    put_file("outside\\web\\stray.htm", "stray");
    put_file("outside\\1.log", log("a", "one\n"));
    fs::create_directories("work/LKset/A/web");
    ASSERT_TRUE(platform::change_folder("work"));
    SetUp();
    add_list("A");
    put_file("LKset\\A\\1.log", log("a", "one\n"));
    fs::remove_all(c.link);
    std::error_code error;
    fs::create_directory_symlink(fs::absolute("../outside"), c.link, error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    ui.answers = {true};
    rebuild_site(ui, table);

    EXPECT_EQ(get_file(std::string("..\\") + c.outside), "stray") << c.name;
    EXPECT_EQ(get_file("LKset\\A\\web\\1.htm"), convert_log_body("one\n")) << c.name;
    ASSERT_TRUE(platform::change_folder(".."));
  }
}

}  // namespace
}  // namespace larkspur
