// The receive job's site work against what it stands for: after each stored
// log, update_list_pages for its list and sort_link_pages. Both run on copies
// of one archive through the same steps, with other writers in between.
#include "site/site_job.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::put_file;

std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).generic_string();
    // The lock file and a link page's spare ("~menu.htm.old") are private.
    const std::string file = entry.path().filename().string();
    if (file == "~site.lock" || (file.starts_with("~") && file.ends_with(".old"))) continue;
    if (entry.is_regular_file()) entries[name] = testing::get_file((root / name).string());
  }
  return entries;
}

void store(const std::string& list, int serial) {
  put_file(list_folder(list) + "\\" + std::to_string(100 + serial) + ".log",
           "subject " + std::to_string(serial * 7919 % 13) + "\n\n\nbody " + std::to_string(serial) + "\n");
}

TEST(SiteJob, LeavesWhatUpdatingAndSortingLeave) {
  testing::TempFolder folder;
  // What happens between stored logs, the same in both copies.
  const std::map<int, std::function<void()>> others = {
      {3, [] { platform::delete_file("LKset\\A\\web\\101.htm"); }},
      {5, [] { put_file("LKset\\B\\web\\menu.htm", "head\n<A HREF=x.htm target=main>a</A><P>\n<A HREF=y.htm target=main>b</A><P>\n"); }},
      {7, [] { put_file("LKset\\A\\web\\down.htm", "edited"); }},
      {9, [] { put_file("LKset\\C\\web\\menu.htm", std::string(kMaxLinkPageBytes - 20, 'x') + "\n"); }},
      {11, [] { platform::delete_file("LKset\\A\\web\\menu.htm"); }},
  };
  const char* lists[] = {"A", "B", "A", "C", "A", "B", "A", "A", "C", "C", "A", "B", "A", "A"};
  // A log stored in the same batch as the step's log, under the same page
  // name (a second file where the file system tells the two names apart).
  const std::map<int, std::string> batch_mates = {{13, "113.LOG"}};
  struct Step {
    std::map<std::string, std::string> files;
    std::vector<std::string> notices;
    OutcomeKind outcome;
  };
  std::vector<Step> expected;
  for (const bool with_job : {false, true}) {
    const fs::path side = fs::path(folder.path()) / (with_job ? "job" : "reference");
    fs::create_directories(side);
    ASSERT_TRUE(platform::change_folder(side.string()));
    create_working_folders();
    put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n");
    put_file("set\\index.htm", "index\n");
    for (const char* name : {"A", "B", "C"}) {
      write_list(name, ListRecord{});
      platform::create_folder(list_folder(name));
    }
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
    ListNamesCache names;
    SiteJob job(ui, names);
    for (int step = 0; step < static_cast<int>(std::size(lists)); ++step) {
      if (others.count(step)) others.at(step)();
      store(lists[step], step);
      std::vector<std::string> batch = {list_folder(lists[step]) + "\\" + std::to_string(100 + step) + ".log"};
      if (batch_mates.count(step)) {
        batch.push_back(list_folder(lists[step]) + "\\" + batch_mates.at(step));
        put_file(batch.back(), "mate\n\n\nbody\n");
      }
      Outcome outcome;
      if (with_job) {
        outcome = batch.size() == 1 ? job.log_stored(lists[step], batch.front()) : job.logs_stored(lists[step], batch);
      } else {
        outcome = update_list_pages(list_folder(lists[step]), ui);
        const Outcome sorted = sort_link_pages();
        if (!sorted.ok()) outcome.fail(sorted.reason);
      }
      Step now{tree(side), ui.notices(), outcome.kind};
      if (!with_job) {
        expected.push_back(std::move(now));
        continue;
      }
      const Step& want = expected[static_cast<std::size_t>(step)];
      EXPECT_EQ(now.outcome, want.outcome) << step;
      EXPECT_EQ(now.notices, want.notices) << step;
      for (const auto& [name, bytes] : want.files) {
        EXPECT_EQ(now.files.count(name) ? now.files.at(name) : "<none>", bytes) << step << " " << name;
      }
      EXPECT_EQ(now.files.size(), want.files.size()) << step;
    }
  }
  ASSERT_TRUE(platform::change_folder(folder.path()));
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++count;
  return count;
}

// What a job stopped at any point between a log and its pages leaves, and
// what the next job makes of it.
TEST(SiteJob, NextJobFinishesWhatAStoppedOneLeft) {
  struct Case {
    const char* name;
    bool linked;  // log 2's link line was written
    bool paged;   // log 2's page was written
    bool marked;  // the stopped job's mark is there
  };
  const Case cases[] = {
      {"stopped before the link line", false, false, true},
      {"stopped between the link line and the page", true, false, true},
      {"stopped between the page and the link line", false, true, true},
      {"stopped after both", true, true, true},
      {"no stopped job: nothing to finish", false, false, false},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    create_working_folders();
    put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n");
    put_file("set\\index.htm", "index\n");
    for (const char* name : {"A", "B"}) {
      write_list(name, ListRecord{});
      platform::create_folder(list_folder(name));
    }
    store("A", 1);
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
    ASSERT_TRUE(update_list_pages(list_folder("A"), ui).ok());
    store("A", 2);
    const std::string menu_path = list_web_folder("A") + "\\menu.htm";
    if (c.linked) {
      LinkPageInserter menu(platform::read_file(menu_path).value_or(std::string()));
      ASSERT_TRUE(menu.insert("102.htm", "subject 1"));
      put_file(menu_path, menu.bytes());
    }
    if (c.paged) put_file(list_web_folder("A") + "\\102.htm", "page");
    if (c.marked) put_file(list_folder("A") + "\\" + std::string(kPagesPendingMark), "");
    // What a stopped writer leaves: its temporaries (old and new places) and
    // a spare in the web folder.
    put_file(list_web_folder("A") + "\\~102.htm.tmp", "half");
    put_file(list_web_folder("A") + "\\~menu.htm.old", "spare");
    put_file(list_folder("A") + "\\~102.htm.tmp", "half");

    const Outcome outcome = finish_stopped_site_work({"A", "B"}, ui);
    EXPECT_TRUE(outcome.ok()) << c.name << ": " << outcome.reason;
    const std::string menu = testing::get_file(menu_path);
    EXPECT_EQ(count_of(menu, "<A HREF=101.htm "), 1u) << c.name << "\n" << menu;
    EXPECT_EQ(count_of(menu, "<A HREF=102.htm "), c.marked ? 1u : 0u) << c.name << "\n" << menu;
    EXPECT_EQ(platform::can_read_file(list_web_folder("A") + "\\102.htm"), c.marked || c.paged) << c.name;
    const std::vector<std::string> web = platform::find_files(list_web_folder("A") + "\\*");
    const std::vector<std::string> pages = platform::find_files(list_web_folder("A") + "\\*.htm");
    if (c.marked) {
      EXPECT_EQ(web, pages) << c.name;
      EXPECT_EQ(platform::find_files(list_folder("A") + "\\~*"), std::vector<std::string>{}) << c.name;
    }
    EXPECT_TRUE(platform::find_files(list_folder("B") + "\\*").empty()) << c.name;
  }
}

// A job leaves nothing of its own beside the logs and the pages.
TEST(SiteJob, LeavesNoPrivateFileWhenItEnds) {
  testing::TempFolder folder;
  create_working_folders();
  put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n");
  write_list("A", ListRecord{});
  platform::create_folder(list_folder("A"));
  {
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
    ListNamesCache names;
    SiteJob job(ui, names);
    for (int serial = 1; serial <= 3; ++serial) {
      job.log_coming("A");
      EXPECT_TRUE(platform::can_read_file(list_folder("A") + "\\" + std::string(kPagesPendingMark)));
      store("A", serial);
      EXPECT_TRUE(job.log_stored("A", list_folder("A") + "\\" + std::to_string(100 + serial) + ".log").ok());
      EXPECT_EQ(platform::find_files(list_web_folder("A") + "\\*"),
                platform::find_files(list_web_folder("A") + "\\*.htm"));
    }
  }
  EXPECT_EQ(platform::find_files(list_folder("A") + "\\*"),
            (std::vector<std::string>{"101.log", "102.log", "103.log"}));
}

}  // namespace
}  // namespace larkspur
