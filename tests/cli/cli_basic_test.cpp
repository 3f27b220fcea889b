// larkspur-cli without a mail server: the command line, the folders, the list
// listing, the rebuild's question, and the receive job's early ends.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "larkspur_version.h"
#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::InTempFolder;
using testing::put_file;
using testing::RecordingConsole;
using testing::run_cli;
using testing::sj;

class CliBasic : public InTempFolder {};

TEST_F(CliBasic, UsageErrorsExitTwoAndChangeNothing) {
  const std::vector<std::string> cases[] = {
      {},
      {"frobnicate"},
      {"lists", "extra"},
      {"receive", "--yes"},
      {"-C"},
      {"--bogus", "lists"},
      {"rebuild", "--keep"},
      {"--version", "lists"},  // --version goes only on its own
      {"lists", "--version"},
  };
  for (const std::vector<std::string>& args : cases) {
    RecordingConsole console;
    EXPECT_EQ(run_cli(console, args), cli::kExitUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(console.out_text(), "");
    EXPECT_NE(console.err_text(), "");
  }
  EXPECT_FALSE(platform::folder_exists("LKset"));
}

TEST_F(CliBasic, HelpDescribesEveryCommand) {
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"--help"}), cli::kExitOk);
  for (const char* word :
       {"\n  receive [--timeout SECONDS]\n", "\n  rebuild [--yes]\n", "\n  lists\n", "-C DIR", "Exit codes",
        "\n  account add NAME SERVER USER PASSWORD [--extended]\n", "\n  account show\n",
        "\n  account extended NAME on|off\n",
        "\n  account delete NAME [--yes]\n", "\n  list add NAME SEARCH [--keep]\n",
        "\n  list change NAME SEARCH [--keep] [--yes]\n", "\n  list delete NAME [--yes]\n",
        "\n  log show LIST\n", "\n  log delete LIST SUBJECT [--yes]\n",
        "\n  open LIST [--print]\n"}) {
    EXPECT_NE(console.out_text().find(word), std::string::npos) << word;
  }
}

TEST_F(CliBasic, VersionPrintsTheBuildsVersionAndTouchesNothing) {
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"--version"}), cli::kExitOk);
  EXPECT_EQ(console.out_text(), std::string("larkspur-cli ") + LARKSPUR_VERSION_STRING + "\n");
  EXPECT_EQ(console.err_text(), "");
  EXPECT_FALSE(platform::folder_exists("LKset"));
}

TEST_F(CliBasic, CreatesTheWorkingFoldersInTheFolderGiven) {
  platform::create_folder(sj("作業"));
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"-C", "作業", "lists"}), cli::kExitOk);
  for (const char* folder : {"set", "LKset", "pop3mail"}) {
    EXPECT_TRUE(platform::folder_exists(folder)) << folder;  // now inside 作業
  }
  EXPECT_TRUE(platform::change_folder(".."));
  RecordingConsole missing;
  EXPECT_EQ(run_cli(missing, {"-C", "nowhere", "lists"}), cli::kExitFailed);
}

TEST_F(CliBasic, ListsPrintsFiveFieldsInPresentationOrder) {
  create_working_folders();
  struct Case {
    const char* name;
    const char* search;
    int delete_from_server;
    int new_mail;
    bool page;
  };
  const Case cases[] = {
      {"Alpha", "[alpha]", 1, 0, true},
      {"ソフト表", "【ソフト】", 0, 7, true},
      {"Zeta", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    ListRecord record;
    record.search_text = sj(c.search);
    record.delete_from_server = c.delete_from_server;
    record.new_mail = c.new_mail;
    ASSERT_TRUE(write_list(sj(c.name), record));
    if (c.page) {
      platform::create_folder(list_folder(sj(c.name)));
      platform::create_folder(list_web_folder(sj(c.name)));
      put_file(list_index_page(sj(c.name)), "<html></html>");
    }
  }
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"lists"}), cli::kExitOk);
  // Search order is Alpha, Zeta, ソフト表 (by UTF-16 code unit); shown reversed.
  EXPECT_EQ(console.out_text(),
            "ソフト表\t【ソフト】\tkeep\t1\tLKset\\ソフト表\\web\\index.htm\n"
            "Zeta\t\tkeep\t0\t-\n"
            "Alpha\t[alpha]\tdelete\t0\tLKset\\Alpha\\web\\index.htm\n");
  EXPECT_EQ(console.err_text(), "");
}

TEST_F(CliBasic, RebuildAsksAndOnlyYesGoesOn) {
  create_working_folders();
  ListRecord record;
  record.search_text = "x";
  ASSERT_TRUE(write_list("L", record));
  platform::create_folder("LKset\\L");
  platform::create_folder("LKset\\L\\web");
  put_file("LKset\\L\\web\\stale.htm", "old");

  struct Case {
    std::vector<std::string> args;
    bool terminal;
    std::deque<std::string> answers;
    int exit_code;
    bool rebuilt;
  };
  const Case cases[] = {
      {{"rebuild"}, false, {}, cli::kExitFailed, false},      // no terminal: no
      {{"rebuild"}, true, {"n"}, cli::kExitFailed, false},
      {{"rebuild"}, true, {""}, cli::kExitFailed, false},
      {{"rebuild"}, true, {"y"}, cli::kExitOk, true},
      {{"rebuild", "--yes"}, false, {}, cli::kExitOk, true},
  };
  const std::string question =
      "確認: 全てのHTML文書を一度全て削除して\nログファイルからHTML文書を再編成します。\n"
      "よろしいですか？\n";
  for (const Case& c : cases) {
    put_file("LKset\\L\\web\\stale.htm", "old");
    RecordingConsole console;
    console.terminal = c.terminal;
    console.answers = c.answers;
    EXPECT_EQ(run_cli(console, c.args), c.exit_code);
    EXPECT_EQ(console.err_text().rfind(question, 0), 0u) << console.err_text();
    EXPECT_EQ(get_file("LKset\\L\\web\\stale.htm") == "<missing>", c.rebuilt);
    EXPECT_EQ(console.err_text().find("お知らせ: 全てのHTML文書を再編成しました\n") !=
                  std::string::npos,
              c.rebuilt);
    EXPECT_EQ(console.out_text(), "");
  }
}

TEST_F(CliBasic, ReceiveEndsEarlyWithTheStatusesOfItsPath) {
  struct Case {
    const char* what;
    bool account;
    const char* server;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no account", false, "", {"POP3設定ファイル読み込み失敗"}},
      {"server field not usable", true, "host:99999",
       {"メールサーバーに接続中・・・", "メールサーバー接続開始エラー"}},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    create_working_folders();
    if (c.account) {
      AccountRecord account;
      account.account_name = "a";
      account.server = c.server;
      ASSERT_TRUE(write_account(account));
    }
    RecordingConsole console;
    EXPECT_EQ(run_cli(console, {"receive"}), cli::kExitFailed) << c.what;
    EXPECT_EQ(console.out_lines(), c.lines) << c.what;
    EXPECT_TRUE(platform::find_files("LKset\\*.*").empty());
  }
}

TEST_F(CliBasic, ListsWritesAnyNameUnambiguouslyAndNamesWhatItLeavesOut) {
  create_working_folders();
  struct Case {
    std::string name;      // Shift_JIS, as stored
    std::string search;    // Shift_JIS
    std::string expected;  // the first two fields of its line
  };
  std::vector<Case> cases = {
      {sj("ソ表"), "a\\b", "ソ表\ta\\\\b"},
      {"cut", "\x01x\x83", "cut\t\\x01x\\x83"},
  };
#ifndef _WIN32
  // Windows refuses control characters in file names.
  cases.push_back({"tab\there", "line\nbreak\r", "tab\\there\tline\\nbreak\\r"});
#endif
  for (const Case& c : cases) {
    ListRecord record;
    record.search_text = c.search;
    ASSERT_TRUE(write_list(c.name, record)) << c.expected;
  }
  // Records no command uses: names that are not plain, and one the
  // directory search cannot express in Shift_JIS.
  put_file("LKset\\..stf", "");
  std::filesystem::path unlisted = std::filesystem::path("LKset");
  unlisted /= std::filesystem::u8path("\xF0\x9F\x98\x80.stf");  // U+1F600
  std::ofstream(unlisted).put('x');

  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"lists"}), cli::kExitOk);
  const std::vector<std::string> lines = console.out_lines();
  ASSERT_EQ(lines.size(), cases.size());
  for (const Case& c : cases) {
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.starts_with(c.expected + "\t");
    });
    EXPECT_NE(line, lines.end()) << c.expected << "\n" << console.out_text();
  }
  const std::string err = console.err_text();
  EXPECT_NE(err.find("LKset\\..stf: "), std::string::npos) << err;
  EXPECT_NE(err.find("LKset\\\xF0\x9F\x98\x80.stf: "), std::string::npos) << err;
}

}  // namespace
}  // namespace larkspur
