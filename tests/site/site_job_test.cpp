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
  const char* lists[] = {"A", "B", "A", "C", "A", "B", "A", "A", "C", "C", "A", "B", "A"};
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
    testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::answer_no};
    SiteJob job(ui);
    for (int step = 0; step < static_cast<int>(std::size(lists)); ++step) {
      if (others.count(step)) others.at(step)();
      store(lists[step], step);
      Outcome outcome;
      if (with_job) {
        outcome = job.log_stored(lists[step], list_folder(lists[step]) + "\\" + std::to_string(100 + step) + ".log");
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

}  // namespace
}  // namespace larkspur
