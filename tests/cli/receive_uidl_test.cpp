// Extended mail handling against the scripted POP3 server: the scan reads
// only new messages with TOP, each message is stored once per list however
// often it is received, a deletion that was never carried out is made good
// without a second log, and a server without UIDL is told apart by
// Message-ID. An id given again to other mail, two messages under one id
// and a mailbox changed by another client never cost a message. The same
// receives with the option off behave as always. Every list takes every
// message (empty search text), so that the cases do not depend on how
// subjects are decoded.
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "platform/platform.h"

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

// "name" or "id=content": a message whose UIDL and Message-ID come from the
// id, and whose subject and body from the content, so that one id can be
// given to two different messages.
Pop3TestMessage mail(const std::string& written) {
  const std::size_t equals = written.find('=');
  const std::string id = written.substr(0, equals);
  const std::string content = equals == std::string::npos ? written : written.substr(equals + 1);
  return {id, join_lines({"Message-ID: <" + id + "@example.jp>", "Subject: Issue " + content, "",
                          "Body of " + content, "..dotted"})};
}

// One receive: the mailbox it meets, and what it must do.
struct Receive {
  std::vector<std::string> mailbox;
  std::vector<std::string> wire;  // commands but USER, PASS and QUIT
  int logs;                       // logs of the list afterwards
  std::vector<std::string> left;  // on the server afterwards
  int exit_code = cli::kExitOk;
  // When not empty: the mailbox once the first session that scanned has
  // ended, as if another client had deleted or added mail right then.
  std::vector<std::string> after_scan = {};
  bool logs_removed_before = false;  // the list's logs are deleted by hand first
};

struct UidlCase {
  std::string what;
  bool extended;
  bool deletes;
  std::vector<Pop3Fault> faults = {};  // over all receives
  std::vector<Receive> receives;
  std::string says = {};  // a notice the receives print (empty: no notice)
  std::size_t max_reply_bytes = 0;  // the client's reply bound (0: its default)
  std::string complains = {};       // in every receive's diagnostics
};

const Pop3Fault kNoUidl{"UIDL", 0, Pop3Fault::Kind::kReply, "-ERR not supported\r\n"};
// The connection drops at the server's first DELE: the message stays.
const Pop3Fault kFirstDeleteDropped{"DELE", 1, Pop3Fault::Kind::kDrop, "", 0};
// The commands of an extended receive that stores and deletes the one new
// message of the mailbox, and the two new messages of a mailbox of two.
const std::vector<std::string> kStoreAndDeleteOne = {"UIDL", "LIST", "TOP 1 0", "RETR 1", "DELE 1"};
const std::vector<std::string> kStoreAndDeleteTwo = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0",
                                                     "RETR 2", "RETR 1", "DELE 2", "DELE 1"};

// The first receive of a mailbox of one message (`written` as for mail())
// whose deletion kFirstDeleteDropped cuts off: stored as the list's first
// log, left on the server, the job failed.
Receive deletion_dropped(const std::string& written) {
  return {.mailbox = {written}, .wire = kStoreAndDeleteOne, .logs = 1,
          .left = {written.substr(0, written.find('='))}, .exit_code = cli::kExitFailed};
}
const std::string kNoUidlNotice = "UIDL非対応のサーバーです。Message-IDで同じメールを見分けます";
const std::string kSkippedNotice = "UIDLの一覧に読めない行が 2 行ありました。その行は飛ばしました";

// Each log holds the message its subject names.
void expect_logs_whole(const std::string& list) {
  const std::string folder = list_folder(list) + "\\";
  for (const std::string& name : platform::find_files(folder + "*.log")) {
    const std::string log = platform::read_file(folder + name).value_or("");
    const std::string content = log.substr(6, log.find('\n') - 6);  // after "Issue "
    EXPECT_NE(log.find("Body of " + content + "\n"), std::string::npos) << name << ": " << log;
  }
}

TEST(ReceiveOncePerList, EachMessageIsStoredOnceWhateverTheServerKeeps) {
  const std::vector<UidlCase> cases = {
      {.what = "kept mail: only new messages are read and stored; gone ones forgotten",
       .extended = true, .deletes = false, .receives = {{.mailbox = {"m1", "m2"},
       .wire = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 1"}, .logs = 2,
       .left = {"m1", "m2"}},
        {.mailbox = {"m1", "m2"}, .wire = {"UIDL", "LIST"}, .logs = 2, .left = {"m1", "m2"}},
        {.mailbox = {"m1", "m2", "m3"}, .wire = {"UIDL", "LIST", "TOP 3 0", "RETR 3"}, .logs = 3,
         .left = {"m1", "m2", "m3"}},
        {.mailbox = {"m3"}, .wire = {"UIDL", "LIST"}, .logs = 3, .left = {"m3"}},
        {.mailbox = {}, .wire = {"UIDL", "LIST"}, .logs = 3, .left = {}}}},
      {.what = "a deletion never carried out is made good without a second log", .extended = true,
       .deletes = true, .faults = {kFirstDeleteDropped},
       .receives = {deletion_dropped("m1"),
                    {.mailbox = {"m1"}, .wire = {"UIDL", "LIST", "TOP 1 0", "DELE 1"}, .logs = 1, .left = {}}}},
      {.what = "a log gone by hand: the message is stored again before it is deleted",
       .extended = true, .deletes = true, .faults = {kFirstDeleteDropped},
       .receives = {deletion_dropped("m1"),
                    {.mailbox = {"m1"}, .wire = kStoreAndDeleteOne, .logs = 1, .left = {},
                     .logs_removed_before = true}}},
      {.what = "an id given again to new mail of the same size: stored before it is deleted",
       .extended = true, .deletes = true, .faults = {kFirstDeleteDropped},
       .receives = {deletion_dropped("1=a"),
                    {.mailbox = {"1=b"}, .wire = kStoreAndDeleteOne, .logs = 2, .left = {}}}},
      {.what = "an id given again after the job deleted its message", .extended = true,
       .deletes = true, .receives = {{.mailbox = {"1=a"}, .wire = kStoreAndDeleteOne,
       .logs = 1, .left = {}},
        {.mailbox = {"1=b"}, .wire = kStoreAndDeleteOne, .logs = 2,
         .left = {}}}},
      {.what = "one UIDL id listed twice: neither counts as stored", .extended = true,
       .deletes = true, .receives = {{.mailbox = {"x=a", "x=b"},
       .wire = kStoreAndDeleteTwo,
         .logs = 2, .left = {}}}},
      {.what = "ids with a blank are read whole", .extended = true, .deletes = true, .receives = {{.mailbox = {"id 1=a", "id 2=b"},
         .wire = kStoreAndDeleteTwo,
         .logs = 2, .left = {}}}},
      {.what = "no UIDL, one Message-ID for two messages: both stored", .extended = true,
       .deletes = true, .faults = {kNoUidl},
       .receives = {{.mailbox = {"x=a", "x=b"},
       .wire = kStoreAndDeleteTwo,
         .logs = 2, .left = {}}},
       .says = kNoUidlNotice},
      {.what = "the mailbox changed after the scan: the numbers stay the scan's", .extended = true,
       .deletes = false, .receives = {{.mailbox = {"m1", "m2", "m3"},
       .wire = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0", "TOP 3 0", "RETR 3", "RETR 2", "RETR 1"},
         .logs = 3, .left = {"m2", "m3"}, .after_scan = {"m2", "m3"}}}},
      {.what = "a server that had UIDL refuses it: nothing is stored again", .extended = true,
       .deletes = false,
       .faults = {{"UIDL", 2, Pop3Fault::Kind::kReply, "-ERR not now\r\n"}},
       .receives = {{.mailbox = {"m1"}, .wire = {"UIDL", "LIST", "TOP 1 0", "RETR 1"}, .logs = 1,
       .left = {"m1"}},
        {.mailbox = {"m1"}, .wire = {"UIDL", "LIST"}, .logs = 1, .left = {"m1"},
         .exit_code = cli::kExitFailed}}},
      {.what = "UIDL lines that name no message are skipped, and said once", .extended = true,
       .deletes = false,
       .faults = {{"UIDL", 0, Pop3Fault::Kind::kReply, "+OK\r\n1 m1\r\nbogus\r\n7 m7\r\n.\r\n"}},
       .receives = {{.mailbox = {"m1"}, .wire = {"UIDL", "LIST", "TOP 1 0", "RETR 1"}, .logs = 1,
       .left = {"m1"}}},
       .says = kSkippedNotice},
      {.what = "a message over the reply bound is named; the others are stored", .extended = true,
       .deletes = false, .receives = {{.mailbox = {"m1", "big=" + std::string(250, 'x'), "m3"},
         .wire = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0", "TOP 3 0", "RETR 3", "RETR 2", "RETR 1"},
         .logs = 2,
         .left = {"m1", "big", "m3"}, .exit_code = cli::kExitFailed}},
       .max_reply_bytes = 400, .complains = "メールが大きすぎるため受信できませんでした（400バイト超、番号 2"},
      {.what = "no UIDL: told apart by Message-ID, and said so", .extended = true, .deletes = false,
       .faults = {kNoUidl},
       .receives = {{.mailbox = {"m1", "m2"},
       .wire = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0", "RETR 2", "RETR 1"}, .logs = 2,
         .left = {"m1", "m2"}},
        {.mailbox = {"m1", "m2"}, .wire = {"UIDL", "LIST", "TOP 1 0", "TOP 2 0"}, .logs = 2,
         .left = {"m1", "m2"}}},
       .says = kNoUidlNotice},
      {.what = "option off, the mailbox changed after the scan: nothing stored or deleted amiss",
       .extended = false, .deletes = true, .receives = {{.mailbox = {"m1", "m2", "m3"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "TOP 3 0", "RETR 3", "RETR 2", "RETR 1"},
         .logs = 0, .left = {"m2", "m3"}, .exit_code = cli::kExitFailed,
         .after_scan = {"m2", "m3"}}}},
      {.what = "option off: kept mail is stored again at every receive", .extended = false,
       .deletes = false, .receives = {{.mailbox = {"m1"}, .wire = {"LIST", "TOP 1 0", "RETR 1"}, .logs = 1,
       .left = {"m1"}},
        {.mailbox = {"m1"}, .wire = {"LIST", "TOP 1 0", "RETR 1"}, .logs = 2, .left = {"m1"}}}},
  };
  // Extended receives run against a server with and without PIPELINING:
  // the same commands, the same outcome, and one session per receive.
  for (const UidlCase& c : cases) for (const bool pipelining : {false, true}) {
    if (pipelining && !c.extended) continue;
    SCOPED_TRACE(c.what + (pipelining ? " (pipelining)" : ""));
    testing::TempFolder folder;
    create_working_folders();
    ListRecord list;
    list.delete_from_server = c.deletes ? 1 : 0;
    ASSERT_TRUE(write_list("L", list));
    Pop3TestServerOptions options;
    options.faults = c.faults;
    if (pipelining) options.capabilities = {"TOP", "UIDL", "PIPELINING", "USER"};
    // The mailbox another client leaves once a scanning session has ended.
    std::mutex change_mutex;
    std::vector<Pop3TestMessage> change;
    bool scanned = false;
    Pop3TestServer* server_of_hook = nullptr;
    options.on_command = [&](const std::string& line) {
      std::lock_guard lock(change_mutex);
      if (line == "UIDL" || line == "LIST") scanned = true;
      if (line == "QUIT" && scanned && !change.empty()) {
        server_of_hook->set_mailbox(std::move(change));
        change.clear();
      }
    };
    Pop3TestServer server({}, options);
    server_of_hook = &server;
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
      {
        std::lock_guard lock(change_mutex);
        scanned = false;
        change.clear();
        for (const std::string& name : receive.after_scan) change.push_back(mail(name));
      }

      if (receive.logs_removed_before) {
        for (const std::string& log : platform::find_files(list_folder("L") + "\\*.log")) {
          platform::delete_file(list_folder("L") + "\\" + log);
        }
      }
      const int sessions_before = server.sessions();
      RecordingConsole console;
      cli::Environment env;
      env.receive_timeout_ms = 20'000;
      env.max_reply_bytes = c.max_reply_bytes;
      EXPECT_EQ(run_cli(console, {"receive"}, env), receive.exit_code) << console.err_text();
      ASSERT_TRUE(server.wait_idle(20'000));
      const std::vector<std::string> transcript = server.transcript();
      std::vector<std::string> wire;
      for (; seen < transcript.size(); ++seen) {
        const std::string& line = transcript[seen];
        if (!line.starts_with("USER") && !line.starts_with("PASS") && line != "QUIT" &&
            line != "CAPA") {
          wire.push_back(line);
        }
      }
      EXPECT_EQ(wire, receive.wire);
      if (c.extended) {
        EXPECT_EQ(server.sessions() - sessions_before, 1);
      }
      EXPECT_EQ(platform::find_files(list_folder("L") + "\\*.log").size(),
                static_cast<std::size_t>(receive.logs));
      EXPECT_EQ(server.mailbox_names(), receive.left);
      if (c.says.empty()) {
        EXPECT_EQ(console.out_text().find("UIDL"), std::string::npos) << console.out_text();
      } else {
        EXPECT_NE(console.out_text().find(c.says), std::string::npos) << console.out_text();
      }
      expect_logs_whole("L");
      EXPECT_NE(console.err_text().find(c.complains), std::string::npos) << console.err_text();
      if (c.extended && !c.deletes && c.says.empty() && receive.exit_code == cli::kExitOk &&
          receive.after_scan.empty()) {
        // The ids of the messages on the server, and no others.
        std::set<std::string> stored;
        for (const auto& entry : read_stored_ids("L")) stored.insert(entry.first);
        EXPECT_EQ(stored, std::set<std::string>(receive.left.begin(), receive.left.end()));
      }
    }
  }
}

}  // namespace
}  // namespace larkspur
