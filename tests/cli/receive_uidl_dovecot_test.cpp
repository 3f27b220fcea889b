// Extended mail handling against a real dovecot, started by
// tests/dovecot/run-test.sh --own-mailbox: a mailbox of 500 messages kept on
// the server is archived whole, messages arriving later (numbered past 500)
// are archived at the next receive, and no receive stores a message twice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "job/seen_messages.h"
#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::RecordingConsole;
using testing::run_cli;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Puts messages first..last into the Maildir's new/ folder.
void deliver(const std::string& maildir, int first, int last) {
  for (int n = first; n <= last; ++n) {
    std::ofstream out(maildir + "/new/" + std::to_string(1800000000 + n) + ".M" +
                          std::to_string(n) + "P1.larkspur",
                      std::ios::binary);
    out << "From: editor@example.jp\nMessage-ID: <issue-" << n << "@example.jp>\n"
        << "Subject: Issue " << n << "\n\nBody of issue " << n << "\n.leading dot\n";
  }
}

class ReceiveKeptMailFromDovecot : public testing::InTempFolder {};

TEST_F(ReceiveKeptMailFromDovecot, EveryMessageIsArchivedOnce) {
  const std::string maildir = env("LARKSPUR_DOVECOT_MAILDIR");
  if (maildir.empty()) GTEST_SKIP() << "run through tests/dovecot/run-test.sh --own-mailbox";
  create_working_folders();
  AccountRecord account;
  account.account_name = "dovecot";
  account.server = env("LARKSPUR_DOVECOT_SERVER");
  account.user_name = env("LARKSPUR_DOVECOT_USER");
  account.password = env("LARKSPUR_DOVECOT_PASSWORD");
  account.options = kAccountOptionExtendedMail;
  ASSERT_TRUE(write_account(account));
  ASSERT_TRUE(write_list("all", ListRecord{}));  // takes every message, keeps it on the server

  const struct {
    int delivered;  // messages on the server at this receive
    std::size_t logs;
  } receives[] = {{500, 500}, {503, 503}, {503, 503}};
  int on_server = 0;
  for (const auto& receive : receives) {
    SCOPED_TRACE(receive.delivered);
    deliver(maildir, on_server + 1, receive.delivered);
    on_server = receive.delivered;
    RecordingConsole console;
    cli::Environment environment;
    environment.receive_timeout_ms = 20'000;
    EXPECT_EQ(run_cli(console, {"receive"}, environment), cli::kExitOk) << console.err_text();
    EXPECT_EQ(platform::find_files(list_folder("all") + "\\*.log").size(), receive.logs);
    EXPECT_EQ(read_stored_ids("all").size(), receive.logs);
  }
}

}  // namespace
}  // namespace larkspur
