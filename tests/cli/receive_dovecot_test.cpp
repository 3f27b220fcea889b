// `larkspur-cli receive` against a real dovecot, started by
// tests/dovecot/run-test.sh with its sample Maildir; the script afterwards
// checks that exactly the "Plain ASCII notice" message went from the server.
#include <gtest/gtest.h>

#include <cstdlib>

#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::RecordingConsole;
using testing::run_cli;
using testing::sj;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class ReceiveFromDovecot : public testing::InTempFolder {};

TEST_F(ReceiveFromDovecot, SortsTheSampleMailbox) {
  const std::string server = env("LARKSPUR_DOVECOT_SERVER");
  if (server.empty()) GTEST_SKIP() << "run through tests/dovecot/run-test.sh";
  RecordingConsole setup;
  ASSERT_EQ(run_cli(setup, {"account", "add", "dovecot", server, env("LARKSPUR_DOVECOT_USER"),
                            env("LARKSPUR_DOVECOT_PASSWORD")}),
            0);
  ASSERT_EQ(run_cli(setup, {"list", "add", "週刊", "週刊ラークスパー", "--keep"}), 0);
  ASSERT_EQ(run_cli(setup, {"list", "add", "通知", "Plain ASCII"}), 0);
  ASSERT_EQ(run_cli(setup, {"list", "add", "長文", "長いお知らせ", "--keep"}), 0);

  cli::Environment environment;
  environment.clock = [] { return platform::LocalTime{2026, 12, 7, 9, 0, 0}; };
  environment.receive_timeout_ms = 20'000;
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"receive"}, environment), cli::kExitOk);
  const std::vector<std::string> expected = {
      "メールサーバーに接続中・・・", "IDとパスワードの認証中・・・",
      "メールボックスを検索中・・・", "メールの振り分け処理中・・・",
      "メールの振り分け処理中・・・", "該当するメールを受信中・・・",
      "メールの振り分け処理中・・・", "メールの振り分け処理中・・・",
      "該当するメールを受信中・・・", "メールの振り分け処理中・・・",
      "該当するメールを受信中・・・", "他の新着メールが 2 件ありました",
      "メールサーバーから切断処理中・・・"};
  EXPECT_EQ(console.out_lines(), expected);
  EXPECT_EQ(console.err_text(), "");

  // From the last message down: 4 (deleted), 2, 1.
  const struct {
    const char* list;
    const char* log;
    const char* subject;
    const char* message_id;
  } logs[] = {
      {"通知", "20261207090000_1.log", "Plain ASCII notice", "<sample-4@example.jp>"},
      {"長文", "20261207090000_2.log", "長いお知らせの件名は", "<sample-2@example.jp>"},
      {"週刊", "20261207090000_3.log", "週刊ラークスパー 第12号", "<sample-1@example.jp>"},
  };
  for (const auto& log : logs) {
    const std::string text = get_file(list_folder(sj(log.list)) + "\\" + log.log);
    EXPECT_EQ(text.rfind(sj(log.subject), 0), 0u) << log.list;
    EXPECT_NE(text.find(std::string("Message-ID: ") + log.message_id), std::string::npos)
        << log.list;
    EXPECT_EQ(platform::find_files(list_folder(sj(log.list)) + "\\*.log").size(), 1u);
    EXPECT_EQ(read_list_or_zero(sj(log.list)).new_mail, 1);
    EXPECT_TRUE(platform::can_read_file(list_web_folder(sj(log.list)) + "\\" +
                                        std::string(log.log).substr(0, 16) + ".htm"));
  }
}

}  // namespace
}  // namespace larkspur
