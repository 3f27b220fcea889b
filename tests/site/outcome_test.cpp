// What the site operations report: failed with a reason naming the file
// whenever something they owed could not be written or deleted.
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/page_io.h"
#include "site/rebuild.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::put_file;

// A folder in the place of a page's temporary file: that page cannot be
// written, whatever the permissions (the tests may run as root).
void block_write(const std::string& folder, const std::string& page) {
  ASSERT_TRUE(platform::create_folder(site_detail::temporary_path(folder + "\\" + page)));
}

void make_list(const std::string& name) {
  ListRecord record;
  record.search_text = name;
  write_list(name, record);
  platform::create_folder(list_folder(name));
  platform::create_folder(list_web_folder(name));
  put_file(list_folder(name) + "\\1.log", "subject\n\n\nbody\n");
}

class SiteOutcome : public testing::InTempFolder {
 protected:
  void SetUp() override {
    create_working_folders();
    put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n");
    put_file("set\\index.htm", "index\n");
    make_list("W");
  }
  testing::ScriptedUi ui{testing::ScriptedUi::Unscripted::kAnswerNo};
};

TEST_F(SiteOutcome, UpdateFailsNamingWhatItCouldNotWrite) {
  struct Case {
    const char* blocked;  // page whose write fails; empty: none
    OutcomeKind kind;
  };
  const Case cases[] = {
      {"", OutcomeKind::kDone},          {"index.htm", OutcomeKind::kFailed},
      {"down.htm", OutcomeKind::kFailed}, {"menu.htm", OutcomeKind::kFailed},
      {"1.htm", OutcomeKind::kFailed},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    SetUp();
    const std::string blocked = c.blocked;
    if (!blocked.empty()) block_write("LKset\\W\\web", blocked);
    const Outcome outcome = update_list_pages("LKset\\W", ui);
    EXPECT_EQ(outcome.kind, c.kind) << blocked;
    EXPECT_TRUE(outcome.reason.ends_with(blocked.empty() ? "" : "LKset\\W\\web\\" + blocked)) << outcome.reason;
  }
}

TEST_F(SiteOutcome, SizeRefusalIsAFailure) {
  put_file("LKset\\W\\web\\menu.htm", "head\n" + std::string(kMaxLinkPageBytes, 'x'));
  const Outcome outcome = update_list_pages("LKset\\W", ui);
  EXPECT_EQ(outcome.kind, OutcomeKind::kFailed);
  EXPECT_TRUE(outcome.reason.ends_with("LKset\\W\\web\\menu.htm")) << outcome.reason;
  EXPECT_EQ(ui.notices().size(), 1u);
}

TEST_F(SiteOutcome, SortFailsWhenAPageThatNeedsSortingCannotBeWritten) {
  const std::string unsorted = "h\n<A HREF=1.htm target=main>a</A><P>\n<A HREF=2.htm target=main>b</A><P>\n";
  put_file("LKset\\W\\web\\menu.htm", unsorted);
  block_write("LKset\\W\\web", "menu.htm");
  const Outcome outcome = sort_link_pages();
  EXPECT_EQ(outcome.kind, OutcomeKind::kFailed);
  EXPECT_TRUE(outcome.reason.ends_with("LKset\\W\\web\\menu.htm")) << outcome.reason;
  EXPECT_EQ(testing::get_file("LKset\\W\\web\\menu.htm"), unsorted);
  // A page already in order needs no write, so nothing fails.
  platform::remove_folder(site_detail::temporary_path("LKset\\W\\web\\menu.htm"));
  put_file("LKset\\W\\web\\menu.htm", *sort_link_page(unsorted));
  block_write("LKset\\W\\web", "menu.htm");
  EXPECT_EQ(sort_link_pages().kind, OutcomeKind::kDone);
}

TEST_F(SiteOutcome, RebuildSaysWhatHappened) {
  struct Case {
    const char* name;
    bool answer;
    const char* undeletable;  // page the deletion refuses
    const char* unwritable;   // page whose write fails
    OutcomeKind kind;
    const char* reason_ends;
  };
  const Case cases[] = {
      {"answered no", false, "", "", OutcomeKind::kDeclined, ""},
      {"all rebuilt", true, "", "", OutcomeKind::kDone, ""},
      {"page kept", true, "LKset\\W\\web\\1.htm", "", OutcomeKind::kFailed, "LKset\\W\\web\\1.htm"},
      {"page not written", true, "", "1.htm", OutcomeKind::kFailed, "LKset\\W\\web\\1.htm"},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    SetUp();
    put_file("LKset\\W\\web\\1.htm", "old");
    if (*c.unwritable) block_write("LKset\\W\\web", c.unwritable);
    const std::string undeletable = c.undeletable;
    testing::ScriptedUi asked{testing::ScriptedUi::Unscripted::kAnswerNo};
    asked.answers = {c.answer};
    ListPanelTable table;
    const Outcome outcome = rebuild_site(asked, table, [&](std::string_view path) {
      return path != undeletable && platform::delete_file(path);
    });
    EXPECT_EQ(outcome.kind, c.kind) << c.name;
    EXPECT_TRUE(outcome.reason.ends_with(c.reason_ends)) << c.name << ": " << outcome.reason;
  }
}

}  // namespace
}  // namespace larkspur
