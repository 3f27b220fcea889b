// Extended mail handling against the scripted POP3 server: the scan reads
// only new messages with TOP, each message is stored once per list however
// often it is received, a deletion that was never carried out is made good
// without a second log, and a server without UIDL is told apart by
// Message-ID. The same receives with the option off behave as always.
// Every list takes every message (empty search text), so that the cases do
// not depend on how subjects are decoded.
#include <gtest/gtest.h>

#include <set>

#include "job/seen_messages.h"
#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/pop3server/pop3_test_server.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::join_lines;
using testing::Pop3Fault;
using testing::Pop3TestMessage;
using testing::Pop3TestServer;
using testing::Pop3TestServerOptions;
using testing::RecordingConsole;
using testing::run_cli;

Pop3TestMessage mail(const std::string& name) {
  return {name, join_lines({"Message-ID: <" + name + "@example.jp>", "Subject: Issue " + name, "",
                            "Body of " + name, "..dotted"})};
}

// One receive: the mailbox it meets, and what it must do.
struct Receive {
  std::vector<std::string> mailbox;
  std::vector<std::string> wire;  // commands but USER, PASS and QUIT
  int logs;                       // logs of the list afterwards
  std::vector<std::string> left;  // on the server afterwards
  int exit_code = cli::kExitOk;
};

struct UidlCase {
  std::string what;
  bool extended;
  bool deletes;
  std::vector<Pop3Fault> faults;  // over all receives
  std::vector<Receive> receives;
  bool says_no_uidl = false;
};

const Pop3Fault kNoUidl{"UIDL", 0, Pop3Fault::Kind::kReply, "-ERR not supported\r\n"};

TEST(ReceiveOncePerList, EachMessageIsStoredOnceWhateverTheServerKeeps) {
  const std::vector<UidlCase> cases = {
      {"kept mail: only new messages are read and stored; gone ones forgotten", true, false, {},
       {{{"m1", "m2"}, {"UIDL", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 1"}, 2, {"m1", "m2"}},
        {{"m1", "m2"}, {"UIDL"}, 2, {"m1", "m2"}},
        {{"m1", "m2", "m3"}, {"UIDL", "TOP 3 0", "RETR 3"}, 3, {"m1", "m2", "m3"}},
        {{"m3"}, {"UIDL"}, 3, {"m3"}},
        {{}, {"UIDL"}, 3, {}}}},
      {"a deletion never carried out is made good without a second log", true, true,
       {{"DELE", 1, Pop3Fault::Kind::kDrop, "", 0}},
       {{{"m1"}, {"UIDL", "TOP 1 0", "RETR 1", "DELE 1"}, 1, {"m1"}, cli::kExitFailed},
        {{"m1"}, {"UIDL", "DELE 1"}, 1, {}}}},
      {"no UIDL: told apart by Message-ID, and said so", true, false, {kNoUidl},
       {{{"m1", "m2"}, {"UIDL", "LIST", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 1"}, 2,
         {"m1", "m2"}},
        {{"m1", "m2"}, {"UIDL", "LIST", "TOP 1 0", "TOP 2 0"}, 2, {"m1", "m2"}}},
       true},
      {"option off: kept mail is stored again at every receive", false, false, {},
       {{{"m1"}, {"LIST", "TOP 1 0", "RETR 1"}, 1, {"m1"}},
        {{"m1"}, {"LIST", "TOP 1 0", "RETR 1"}, 2, {"m1"}}}},
  };
  const std::string notice = "UIDL非対応のサーバーです。Message-IDで同じメールを見分けます";
  for (const UidlCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder folder;
    create_working_folders();
    ListRecord list;
    list.delete_from_server = c.deletes ? 1 : 0;
    ASSERT_TRUE(write_list("L", list));
    Pop3TestServerOptions options;
    options.faults = c.faults;
    Pop3TestServer server({}, options);
    ASSERT_TRUE(server.start());
    AccountRecord account;
    account.account_name = "acct";
    account.server = server.address();
    account.user_name = "u";
    account.password = "p";
    account.options = c.extended ? kAccountOptionExtendedMail : 0;
    ASSERT_TRUE(write_account(account));
    std::size_t seen = 0;  // transcript lines of the receives before
    for (std::size_t r = 0; r < c.receives.size(); ++r) {
      SCOPED_TRACE("receive " + std::to_string(r + 1));
      const Receive& receive = c.receives[r];
      std::vector<Pop3TestMessage> mailbox;
      for (const std::string& name : receive.mailbox) mailbox.push_back(mail(name));
      server.set_mailbox(std::move(mailbox));

      RecordingConsole console;
      cli::Environment env;
      env.receive_timeout_ms = 20'000;
      EXPECT_EQ(run_cli(console, {"receive"}, env), receive.exit_code) << console.err_text();
      ASSERT_TRUE(server.wait_idle(20'000));
      const std::vector<std::string> transcript = server.transcript();
      std::vector<std::string> wire;
      for (; seen < transcript.size(); ++seen) {
        const std::string& line = transcript[seen];
        if (!line.starts_with("USER") && !line.starts_with("PASS") && line != "QUIT") {
          wire.push_back(line);
        }
      }
      EXPECT_EQ(wire, receive.wire);
      EXPECT_EQ(platform::find_files(list_folder("L") + "\\*.log").size(),
                static_cast<std::size_t>(receive.logs));
      EXPECT_EQ(server.mailbox_names(), receive.left);
      EXPECT_EQ(console.out_text().find(notice) != std::string::npos, c.says_no_uidl);
      if (c.extended && !c.deletes && !c.says_no_uidl) {
        // The ids of the messages on the server, and no others.
        EXPECT_EQ(read_stored_ids("L"), std::set<std::string>(receive.left.begin(), receive.left.end()));
      }
    }
  }
}

}  // namespace
}  // namespace larkspur
