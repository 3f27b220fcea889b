// The full rebuild against the straightforward algorithm it must equal:
// delete every page, update every list afresh, sort. Both run on copies of
// the same archive; every file, every message and the outcome must agree.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/log_page.h"
#include "site/page_io.h"
#include "site/rebuild.h"
#include "site/site_lock.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::put_file;
using testing::sj;
using DeletePage = std::function<bool(std::string_view)>;

Outcome reference_rebuild(UserInterface& ui, ListPanelTable& table, const DeletePage& delete_page) {
  if (!ui.confirm(Message{})) return Outcome::declined();
  std::vector<std::string> lists = enumerate_lists();
  std::reverse(lists.begin(), lists.end());
  Outcome outcome;
  if (!lists.empty()) {
    std::vector<Message> errors;
    for (const std::string& name : lists) {
      if (platform::is_link("LKset") || platform::is_link(list_folder(name))) {
        outcome.fail(site_detail::behind_link_reason(list_folder(name)));
        continue;
      }
      std::vector<std::string> paths;
      if (platform::is_link(list_web_folder(name))) {
        if (!platform::remove_link(list_web_folder(name))) paths.push_back(list_web_folder(name));
      } else {
        std::vector<std::string> pages = platform::find_files(list_web_folder(name) + "\\*.htm");
        for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
          const std::string path = list_web_folder(name) + "\\" + *it;
          if (!delete_page(path)) paths.push_back(path);
        }
      }
      for (const std::string& path : paths) {
        errors.push_back(Message{sj("削除エラー"), path, MessageIcon::kInformation});
        outcome.fail(site_detail::not_deleted_reason(path));
      }
    }
    for (const Message& error : errors) ui.notify(error);
    std::vector<Message> messages;
    for (const std::string& name : lists) {
      const Outcome list = update_list_pages_locked(list_folder(name), messages, Seeding::kMissingPages);
      if (!list.ok()) outcome.fail(list.reason);
    }
    for (const Message& message : messages) ui.notify(message);
    ui.notify(Message{sj("お知らせ"), sj("全てのHTML文書を再編成しました"), MessageIcon::kInformation});
    const Outcome sorted = sort_link_pages();
    if (!sorted.ok()) outcome.fail(sorted.reason);
  }
  refresh_list_panel(table);
  ui.panel_changed();
  return outcome;
}

std::string log(const std::string& subject, const std::string& body) {
  return subject + "\n\n\nFrom: a@b.jp\nSubject: x\n" + std::string(90, 'X') + "\n\n" + body;
}

void add_list(const std::string& name) {
  ListRecord record;
  record.search_text = name;
  write_list(name, record);
  platform::create_folder(list_folder(name));
  platform::create_folder(list_web_folder(name));
}

// An archive as time leaves it, in the current folder; "..\outside" holds
// what links lead to.
void make_archive() {
  create_working_folders();
  put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n");
  put_file("set\\index.htm", "index\n");
  add_list("A");
  for (int i = 1; i <= 6; ++i) {
    put_file("LKset\\A\\" + std::to_string(i) + ".log", log(sj("号") + std::to_string(7 - i), "body " + std::to_string(i) + " http://x.jp/\n"));
  }
  put_file("LKset\\A\\web\\1.htm", convert_log_body("body 1 http://x.jp/\n"));  // unchanged
  put_file("LKset\\A\\web\\2.htm", "stale page");                               // changed log
  put_file("LKset\\A\\web\\3.htm", "");                                         // empty page
  put_file("LKset\\A\\web\\orphan.htm", "no log");
  put_file("LKset\\A\\web\\~5.htm.old", "left aside by a rebuild cut short");
  put_file("LKset\\A\\web\\menu.htm", "old head\n<A HREF=1.htm target=main>x</A><P>\n");
  put_file("LKset\\A\\web\\notes.txt", "not a page");
  std::error_code error;
  fs::create_symlink(fs::absolute("../outside/linked.htm"), "LKset/A/web/4.htm", error);
  fs::create_hard_link("../outside/hard.htm", "LKset/A/web/6.htm", error);

  add_list("B");  // its link page cannot be deleted
  put_file("LKset\\B\\1.log", log("b1", "b1\n"));
  put_file("LKset\\B\\2.log", log("b2", "b2\n"));
  put_file("LKset\\B\\web\\menu.htm", "kept head\n<A HREF=1.htm target=main>b1</A><P>\n</CENTER>\n");
  put_file("LKset\\B\\web\\1.htm", "old b1");

  add_list("C");  // no logs

  add_list("D");  // one log page cannot be deleted
  put_file("LKset\\D\\1.log", log("d1", "d1\n"));
  put_file("LKset\\D\\2.log", log(std::string(300, 'd'), "d2\n"));
  put_file("LKset\\D\\web\\1.htm", "old d1");
  put_file("LKset\\D\\web\\index.htm", "old index");
}

bool refuse(std::string_view path) {
  return path == "LKset\\B\\web\\menu.htm" || path == "LKset\\D\\web\\1.htm";
}

// Every entry below `root`: files by their bytes, links by their target.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_symlink()) {
      entries[name] = "link to " + fs::read_symlink(entry.path()).filename().string();
    } else if (entry.is_directory()) {
      entries[name] = "folder";
    } else if (name != "~site.lock") {
      entries[name] = testing::get_file(name.starts_with("outside") ? "..\\" + name : name);
    }
  }
  return entries;
}

struct RebuildRun {
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> outside;
  std::vector<std::string> notices;
  Outcome outcome;
};

// Makes the archive in <temp>\<side>\work, runs `rebuild` there `times`
// times and records what the last run left.
template <typename Rebuild>
RebuildRun run_in(const fs::path& base, const char* side, int times, Rebuild rebuild) {
  const fs::path outside = base / side / "outside";
  fs::create_directories(outside);
  fs::create_directories(base / side / "work");
  put_file((outside / "linked.htm").string(), "outside, linked");
  put_file((outside / "hard.htm").string(), "outside, hard link");
  EXPECT_TRUE(platform::change_folder((base / side / "work").string()));
  make_archive();
  RebuildRun run;
  for (int i = 0; i < times; ++i) {
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
    ui.answers = {true};
    ListPanelTable table;
    run.outcome = rebuild(ui, table);
    run.notices = ui.notices();
  }
  run.files = tree(".");
  run.outside = {{"linked", testing::get_file("..\\outside\\linked.htm")},
                 {"hard", testing::get_file("..\\outside\\hard.htm")}};
  EXPECT_TRUE(platform::change_folder(base.string()));
  return run;
}

TEST(RebuildEquivalence, EqualsDeletingAndRegeneratingEverything) {
  testing::TempFolder folder;
  const fs::path base = fs::current_path();
  for (int times : {1, 2}) {
    const std::string tag = std::to_string(times);
    const RebuildRun expected = run_in(base, ("reference" + tag).c_str(), times, [](UserInterface& ui, ListPanelTable& table) {
      return reference_rebuild(ui, table, [](std::string_view path) { return !refuse(path) && platform::delete_file(path); });
    });
    const RebuildRun actual = run_in(base, ("rebuild" + tag).c_str(), times, [](UserInterface& ui, ListPanelTable& table) {
      return rebuild_site(ui, table, [](std::string_view path) { return !refuse(path); });
    });
    // The only difference allowed: a page left aside by a rebuild cut short
    // is cleaned up, where the straightforward algorithm knows nothing of it.
    std::map<std::string, std::string> wanted = expected.files;
    std::erase_if(wanted, [](const auto& entry) { return entry.first.ends_with(".htm.old"); });
    for (const auto& [name, bytes] : wanted) EXPECT_EQ(actual.files.count(name) ? actual.files.at(name) : "<none>", bytes) << name;
    for (const auto& [name, bytes] : actual.files) EXPECT_TRUE(wanted.count(name)) << "extra: " << name;
    EXPECT_EQ(actual.notices, expected.notices) << times;
    EXPECT_EQ(actual.outcome.kind, expected.outcome.kind) << times;
    EXPECT_EQ(actual.outcome.reason, expected.outcome.reason) << times;
    EXPECT_EQ(actual.outside.at("linked"), "outside, linked");
    EXPECT_EQ(actual.outside.at("hard"), "outside, hard link");
    EXPECT_EQ(actual.outside, expected.outside);
  }
}

}  // namespace
}  // namespace larkspur
