// The settings commands of larkspur-cli: account, list, log and open, with
// the dialogs' messages on stderr, their exit codes, and what they leave on
// disk.
#include <gtest/gtest.h>

#include <filesystem>

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

const std::string kOneAccount =
    "お知らせ: 現バージョンで作成できるアカウントは最大１個です。\n\n"
    "変更する場合は一度削除してください。\n";
const std::string kFillEveryField = "注意: 全てに入力してください。\n";
const std::string kRefusedCharacter = "注意: /.:,;*?<>|”は使えません。\n";
const std::string kListLimit = "注意: 現バージョンではこれ以上登録できません。\n";
const std::string kConfirmChange = "確認: 上書きして保存します。\nよろしいですか？\n";
const std::string kConfirmListDelete =
    "確認: このマガジンの受信した内容も全て削除されます。\n本当に削除してもよろしいですか？\n";
const std::string kConfirmAccountDelete = "確認: 本当に削除してもよろしいですか？\n";
// The line that says why a command answered No exited 1.
std::string declined(const std::string& command) {
  return "larkspur-cli: " + command + ": 「いいえ」なので、何も変えていません\n";
}
const std::string kNoLogSelected = "お知らせ: 削除するファイルが選択されていません。\n";
const std::string kConfirmRebuild =
    "確認: 全てのHTML文書を一度全て削除して\nログファイルからHTML文書を再編成します。\n"
    "よろしいですか？\n";
const std::string kRebuilt = "お知らせ: 全てのHTML文書を再編成しました\n";

struct Step {
  std::vector<std::string> args;
  int exit_code;
  std::string err;  // the whole of stderr
  std::string out = "";
};

class SettingsCli : public InTempFolder {
 protected:
  // Runs the steps in order in one working folder.
  static void run_steps(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      RecordingConsole console;
      EXPECT_EQ(run_cli(console, step.args), step.exit_code)
          << ::testing::PrintToString(step.args);
      EXPECT_EQ(console.err_text(), step.err) << ::testing::PrintToString(step.args);
      EXPECT_EQ(console.out_text(), step.out) << ::testing::PrintToString(step.args);
    }
  }
  static std::string run_out(std::vector<std::string> args) {
    RecordingConsole console;
    EXPECT_EQ(run_cli(console, args), cli::kExitOk);
    return console.out_text();
  }
  static void add_log(const std::string& list, const std::string& file, const std::string& bytes) {
    platform::create_folder(list_folder(sj(list.c_str())));
    put_file(list_folder(sj(list.c_str())) + "\\" + file, bytes);
  }
};

TEST_F(SettingsCli, AccountRegisterShowAndDelete) {
  run_steps({
      {{"account", "add", "私の", "pop.example.jp", "", "secret"}, 1, kFillEveryField},
      {{"account", "show"}, 0, ""},
      {{"account", "add", "私の", "pop.example.jp:1100", "me", "secret"}, 0, ""},
      // The one-account rule comes before the empty-field test.
      {{"account", "add", "", "", "", ""}, 1, kOneAccount},
      {{"account", "add", "二つ目", "s", "u", "p"}, 1, kOneAccount},
      {{"account", "show"}, 0, "", "私の\tpop.example.jp:1100\tme\n"},
      {{"account", "delete", "誰か", "--yes"}, 1, "注意: アカウント「誰か」は登録されていません。\n"},
      {{"account", "delete", "私の"}, 1, kConfirmAccountDelete + declined("account delete")},  // no terminal: no
      {{"account", "show"}, 0, "", "私の\tpop.example.jp:1100\tme\n"},
      {{"account", "delete", "私の", "--yes"}, 0, kConfirmAccountDelete},
      {{"account", "show"}, 0, ""},
  });
  EXPECT_TRUE(platform::find_files("pop3mail\\*.*").empty());
}

TEST_F(SettingsCli, ExtendedMailIsSetAtRegistrationAndSwitched) {
  const std::string plain = AccountRecord{"a", "s", "u", "p"}.encode();
  AccountRecord extended{"a", "s", "u", "p"};
  extended.options = kAccountOptionExtendedMail;
  run_steps({
      {{"account", "add", "a", "s", "u", "p", "--extended"}, 0, ""},
      {{"account", "show"}, 0, "", "a\ts\tu\textended\n"},
      {{"account", "extended", "a", "off"}, 0, ""},
      {{"account", "show"}, 0, "", "a\ts\tu\n"},
  });
  // Switched off, the record is the one "account add" without the flag writes.
  EXPECT_EQ(get_file("pop3mail\\a.stf"), plain);
  run_steps({
      {{"account", "extended", "a", "on"}, 0, ""},
      {{"account", "extended", "a", "yes"}, 2,
       "larkspur-cli: account extended takes on or off, not yes\nTry 'larkspur-cli --help'.\n"},
      {{"account", "extended", "b", "off"}, 1, "注意: アカウント「b」は登録されていません。\n"},
  });
  EXPECT_EQ(get_file("pop3mail\\a.stf"), extended.encode());
}

// Every server field form is stored as typed; a field is cut at 79 bytes.
TEST_F(SettingsCli, ServerFieldsAreStoredAsTypedUpTo79Bytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"pop3s://pop.gmail.com", "pop3s://pop.gmail.com"},
      {"pop3+starttls://mail.example.jp:110", "pop3+starttls://mail.example.jp:110"},
      {"pop3://mail.example.jp", "pop3://mail.example.jp"},
      {"[::1]:995", "[::1]:995"},
      {std::string(100, 's'), std::string(kMaxAccountField, 's')},
  };
  for (const auto& [typed, stored] : cases) {
    run_steps({{{"account", "add", "a", typed, "u", "p"}, 0, ""},
               {{"account", "show"}, 0, "", "a\t" + stored + "\tu\n"}});
    EXPECT_EQ(read_first_account()->server, stored);
    run_steps({{{"account", "delete", "a", "--yes"}, 0, kConfirmAccountDelete}});
  }
}

TEST_F(SettingsCli, ListNamesAreCheckedPerShiftJisCharacter) {
  const struct {
    const char* name;
    bool accepted;
  } cases[] = {
      {"a.b", false}, {"x:y", false}, {"a/b", false}, {"a\\b", false}, {"q?", false},
      {"ソフト", true}, {"ポイント", true}, {"表示", true}, {"Weekly", true},
  };
  for (const auto& c : cases) {
    RecordingConsole console;
    EXPECT_EQ(run_cli(console, {"list", "add", c.name, "[x]"}), c.accepted ? 0 : 1) << c.name;
    EXPECT_EQ(console.err_text(), c.accepted ? "" : kRefusedCharacter) << c.name;
    EXPECT_EQ(platform::can_read_file(list_record_path(sj(c.name))), c.accepted) << c.name;
  }
  EXPECT_EQ(count_lists(), 4);
}

TEST_F(SettingsCli, TheThirtiethListIsAcceptedAndTheThirtyFirstRefused) {
  for (int i = 1; i <= kMaxLists; ++i) {
    RecordingConsole console;
    std::string name = "L";  // appended, not "L" + ...: GCC 12 at -O3 warns falsely
    name += std::to_string(i);
    ASSERT_EQ(run_cli(console, {"list", "add", name, "[x]"}), 0) << i;
  }
  run_steps({
      {{"list", "add", "L31", "[x]"}, 1, kListLimit},
      // The limit is tested first, whatever is typed.
      {{"list", "add", "", ""}, 1, kListLimit},
  });
  EXPECT_EQ(count_lists(), kMaxLists);
}

TEST_F(SettingsCli, ListAddKeepChangeAndTheirFlags) {
  run_steps({
      {{"list", "add", "週刊", ""}, 1, kFillEveryField},
      {{"list", "add", "週刊", "【週刊】"}, 0, ""},
      {{"list", "add", "月刊", "[月刊]", "--keep"}, 0, ""},
      {{"lists"}, 0, "", "週刊\t【週刊】\tdelete\t0\t-\n月刊\t[月刊]\tkeep\t0\t-\n"},
  });
  ASSERT_TRUE(set_new_mail(sj("週刊"), 1));
  run_steps({
      {{"list", "change", "週刊", "【週刊誌】", "--keep"}, 1, kConfirmChange + declined("list change")},  // answered no
      {{"list", "change", "週刊", "", "--yes"}, 1, kConfirmChange + kFillEveryField},
      {{"lists"}, 0, "", "週刊\t【週刊】\tdelete\t1\t-\n月刊\t[月刊]\tkeep\t0\t-\n"},
      {{"list", "change", "週刊", "【週刊誌】", "--keep", "--yes"}, 0, kConfirmChange},
      {{"lists"}, 0, "", "週刊\t【週刊誌】\tkeep\t0\t-\n月刊\t[月刊]\tkeep\t0\t-\n"},
  });
}

TEST_F(SettingsCli, AnUnregisteredNameIsRefusedAndNoRecordIsMade) {
  run_steps({{{"list", "add", "有る", "[x]"}, 0, ""}});
  const std::string refused = "注意: リスト「無い」は登録されていません。\n";
  const std::vector<std::vector<std::string>> commands = {
      {"list", "change", "無い", "[y]", "--yes"},
      {"list", "delete", "無い", "--yes"},
      {"log", "show", "無い"},
      {"log", "delete", "無い", "件名", "--yes"},
      {"open", "無い", "--print"},
      {"open", "無い"},
  };
  for (const std::vector<std::string>& args : commands) run_steps({{args, 1, refused}});
  EXPECT_EQ(enumerate_lists(), std::vector<std::string>{sj("有る")});
  EXPECT_FALSE(platform::folder_exists(sj("LKset\\無い")));
}

TEST_F(SettingsCli, ListDeleteTakesEverythingButAHandMadeSubfolder) {
  run_steps({{{"list", "add", "A", "[a]"}, 0, ""}, {{"list", "add", "B", "[b]"}, 0, ""}});
  for (const char* list : {"A", "B"}) {
    add_log(list, "20260101000000_1.log", "[x] 1\n\n\nbody\n");
    platform::create_folder(list_web_folder(list));
    put_file(list_web_folder(list) + "\\index.htm", "<HTML></HTML>");
    put_file(list_web_folder(list) + "\\20260101000000_1.htm", "<HTML></HTML>");
  }
  platform::create_folder("LKset\\B\\mine");
  put_file("LKset\\B\\mine\\note.txt", "kept");

  run_steps({
      {{"list", "delete", "A"}, 1, kConfirmListDelete + declined("list delete")},
      {{"list", "delete", "A", "--yes"}, 0, kConfirmListDelete},
      {{"list", "delete", "B", "--yes"}, 0, kConfirmListDelete},
      {{"lists"}, 0, ""},
  });
  EXPECT_FALSE(platform::folder_exists("LKset\\A"));
  EXPECT_FALSE(platform::can_read_file("LKset\\A.stf"));
  EXPECT_FALSE(platform::can_read_file("LKset\\B.stf"));
  EXPECT_FALSE(platform::folder_exists("LKset\\B\\web"));
  EXPECT_TRUE(platform::find_files("LKset\\B\\*.*").empty());
  EXPECT_EQ(get_file("LKset\\B\\mine\\note.txt"), "kept");
}

TEST_F(SettingsCli, LogShowAndDeleteBySubject) {
  run_steps({{{"list", "add", "M", "[m]"}, 0, ""}});
  add_log("M", "20260101000000_1.log", "[m] Vol.1\n\n\nfirst\n");
  add_log("M", "20260102000000_1.log", "[m] Vol.10\n\n\ntenth\n");
  add_log("M", "20260103000000_1.log", "[m] Vol.1\n\n\nfirst again\n");
  add_log("M", "20260104000000_1.log", "\n\n\nno subject\n");
  add_log("M", "20260105000000_1.log", std::string(300, 'x') + "\n\n\nlong\n");

  run_steps({{{"log", "show", "M"}, 0, "",
              std::string(254, 'x') + "\n\n[m] Vol.1\n[m] Vol.10\n[m] Vol.1\n"}});

  run_steps({
      // Nothing chosen: the notice, and the rebuild is still asked for.
      {{"log", "delete", "M", "", "--yes"}, 1, kNoLogSelected + kConfirmRebuild + kRebuilt},
      {{"log", "delete", "M", "[m] Vol.2", "--yes"}, 1,
       kConfirmRebuild + kRebuilt + "larkspur-cli: log delete: その件名のログはありません。\n"},
      {{"log", "delete", "M", "[m] Vol.1"}, 1,  // rebuild answered no
       kConfirmRebuild +
           "larkspur-cli: log delete: ログは削除しました。再構築は「いいえ」なので行っていません\n"},
      {{"log", "show", "M"}, 0, "", std::string(254, 'x') + "\n\n[m] Vol.10\n"},
      {{"log", "delete", "M", std::string(254, 'x'), "--yes"}, 0, kConfirmRebuild + kRebuilt},
      {{"log", "show", "M"}, 0, "", "\n[m] Vol.10\n"},
  });
  EXPECT_EQ(get_file("LKset\\M\\20260102000000_1.log"), "[m] Vol.10\n\n\ntenth\n");
  // The rebuild gave the remaining logs their pages.
  EXPECT_TRUE(platform::can_read_file("LKset\\M\\web\\20260102000000_1.htm"));
  EXPECT_FALSE(platform::can_read_file("LKset\\M\\web\\20260101000000_1.htm"));
}

TEST_F(SettingsCli, OpenClearsTheMarkAndOpensOrPrintsThePage) {
  run_steps({{{"list", "add", "P", "[p]"}, 0, ""}, {{"list", "add", "NoPage", "[n]"}, 0, ""}});
  platform::create_folder("LKset\\P\\web");
  put_file("LKset\\P\\web\\index.htm", "<HTML></HTML>");
  ASSERT_TRUE(set_new_mail("P", 1));
  ASSERT_TRUE(set_new_mail("NoPage", 1));

  run_steps({
      {{"open", "P", "--print"}, 0, "", "LKset\\P\\web\\index.htm\n"},
      {{"open", "NoPage", "--print"}, 0, "", "LKset\\NoPage\\web\\index.htm\n"},
      {{"lists"}, 0, "", "P\t[p]\tdelete\t0\tLKset\\P\\web\\index.htm\nNoPage\t[n]\tdelete\t0\t-\n"},
  });
}

// A record that cannot be written (a folder stands where it belongs) is a
// failure, not a success.
TEST_F(SettingsCli, ARecordThatCannotBeWrittenIsAFailure) {
  create_working_folders();
  platform::create_folder("pop3mail\\a.stf");
  platform::create_folder("LKset\\X.stf");
  const std::string not_saved = "失敗: 設定ファイルを保存できませんでした。\n";
  run_steps({
      {{"account", "add", "a", "s", "u", "p"}, 1, not_saved},
      {{"list", "add", "X", "[x]"}, 1, not_saved},
      {{"account", "show"}, 0, ""},
      {{"lists"}, 0, ""},
  });
}

#ifndef _WIN32
TEST_F(SettingsCli, OpenNeverRewritesAnUnreadableRecord) {
  create_working_folders();
  std::filesystem::create_symlink("nowhere", "LKset/Broken.stf");
  platform::create_folder("LKset\\Broken");
  platform::create_folder("LKset\\Broken\\web");
  put_file("LKset\\Broken\\web\\index.htm", "<HTML></HTML>");
  run_steps({{{"open", "Broken", "--print"}, 0, "", "LKset\\Broken\\web\\index.htm\n"}});
  EXPECT_TRUE(std::filesystem::is_symlink("LKset/Broken.stf"));
  EXPECT_FALSE(std::filesystem::exists("LKset/nowhere"));
}
// Folders linked by hand to somewhere else: deleting the list or its logs
// removes at most the link, never a file of the folder it points to.
TEST_F(SettingsCli, DeletionsNeverFollowALinkOutOfTheWorkingFolder) {
  struct Case {
    const char* what;
    const char* linked;  // the link, relative to the working folder
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"list folder", "LKset/E", {"list", "delete", "E", "--yes"}},
      {"web folder", "LKset/E/web", {"list", "delete", "E", "--yes"}},
      {"list folder, log deletion", "LKset/E", {"log", "delete", "E", "[e] 1", "--yes"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder folder;
    SetUp();
    run_steps({{{"list", "add", "E", "[e]"}, 0, ""}});
    std::filesystem::remove_all("LKset/E");
    std::filesystem::create_directories(std::filesystem::path(c.linked).parent_path());
    std::filesystem::create_directory("outside");
    put_file("outside\\keep.txt", "kept");
    put_file("outside\\a.log", "[e] 1\n\n\nbody\n");
    put_file("outside\\a.htm", "<HTML></HTML>");
    std::filesystem::create_directory_symlink(std::filesystem::absolute("outside"), c.linked);

    RecordingConsole console;
    run_cli(console, c.args);
    EXPECT_EQ(platform::find_files("outside\\*.*"),
              (std::vector<std::string>{"a.htm", "a.log", "keep.txt"}));
  }
}
#endif

}  // namespace
}  // namespace larkspur
