// `larkspur-cli receive` end to end against the scripted POP3 server: what it
// prints, its exit code, the wire transcript, the logs, records and pages it
// leaves, and what stays on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "job/receive_job.h"
#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/pop3server/pop3_test_server.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::get_file;
using testing::InTempFolder;
using testing::join_lines;
using testing::Pop3Fault;
using testing::Pop3TestMessage;
using testing::Pop3TestServer;
using testing::Pop3TestServerOptions;
using testing::put_file;
using testing::RecordingConsole;
using testing::run_cli;
using testing::sj;

// Every log of these tests is stored at this moment.
constexpr platform::LocalTime kStoredAt{2026, 6, 7, 8, 9, 10};
const std::string kStamp = "20260607080910_";

// Status lines as larkspur-cli prints them.
const char* const kConnecting = "メールサーバーに接続中・・・";
const char* const kAuthenticating = "IDとパスワードの認証中・・・";
const char* const kAuthFailed = "認証に失敗！設定を確認してみてください";
const char* const kScanning = "メールボックスを検索中・・・";
const char* const kSessionError = "受信セッション開始エラー";
const char* const kReceiving = "該当するメールを受信中・・・";
const char* const kFailed = "メールの受信に失敗しました";
const char* const kDisconnecting = "メールサーバーから切断処理中・・・";
const char* const kNoMail = "メールはありませんでした";
const char* const kNoList = "受信する登録リストがありません";
const char* const kSorting = "メールの振り分け処理中・・・";
const char* const kJobRunning =
    "注意: このフォルダーでは受信処理が実行中です。\n終わってから、もう一度実行してください。\n";

// こんにちは as an encoded word, and the same words in a message line.
const std::string kHelloWord = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
const std::string kHelloJis = "\x1B$B$3$s$K$A$O\x1B(B";

struct ListSpec {
  std::string name;    // UTF-8
  std::string search;  // UTF-8
  bool deletes = false;
};

struct MailSpec {
  std::string name;            // server's name of the message
  std::string subject_header;  // raw header text after "Subject: "
  std::string subject;         // decoded, UTF-8
};

// The wire form of a test message, and the text a log stores of it.
std::vector<std::string> mail_lines(const MailSpec& mail) {
  return {"From: sender@example.jp", "Subject: " + mail.subject_header, "", "Body of " + mail.name,
          kHelloJis + " http://example.jp/" + mail.name, ".dotted"};
}
std::string stored_text(const MailSpec& mail) {
  return sj(mail.subject.c_str()) + "\n\n\n" + "From: sender@example.jp\nSubject: " +
         mail.subject_header + "\n\nBody of " + mail.name + "\n" + sj("こんにちは") +
         " http://example.jp/" + mail.name + "\n.dotted\n";
}

struct ReceiveCase {
  std::string what;
  std::vector<ListSpec> lists;
  std::vector<MailSpec> mails;
  std::vector<Pop3Fault> faults = {};
  std::vector<std::string> status_lines;
  int exit_code = cli::kExitOk;
  // After the scan (which every case runs): the commands of the retrieval
  // connection, between its login and its QUIT.
  std::vector<std::string> retrieval = {};
  // list name -> (log number -> message name), every log the job leaves.
  std::map<std::string, std::map<int, std::string>> logs = {};
  std::vector<std::string> left_on_server = {};
  std::vector<std::string> marked = {};  // lists whose new_mail is 1 afterwards
  // False where a fault only changes the reply: the scripted server has then
  // carried the command out all the same.
  bool server_state_meaningful = true;
  int receive_timeout_ms = 0;  // 0: the environment's
};

class ReceiveEndToEnd : public InTempFolder {
 protected:
  void SetUp() override {
    create_working_folders();
    put_file("set\\index.htm", "<HTML>index</HTML>");
    put_file("set\\menu.htm", "<HTML><BODY><CENTER>\n</CENTER>seed</BODY></HTML>\n");
  }

  static void register_lists(const std::vector<ListSpec>& lists) {
    for (const ListSpec& list : lists) {
      ListRecord record;
      record.search_text = sj(list.search.c_str());
      record.delete_from_server = list.deletes ? 1 : 0;
      ASSERT_TRUE(write_list(sj(list.name.c_str()), record));
      platform::create_folder(list_folder(sj(list.name.c_str())));
    }
  }

  static void register_account(const std::string& server, const std::string& password = "p") {
    AccountRecord account;
    account.account_name = "acct";
    account.server = server;
    account.user_name = "u";
    account.password = password;
    ASSERT_TRUE(write_account(account));
  }

  // A started server over `mailbox`, registered as the account (at
  // `scheme` + its address).
  static std::unique_ptr<Pop3TestServer> serve(std::vector<Pop3TestMessage> mailbox,
                                               Pop3TestServerOptions options = {},
                                               const std::string& scheme = "") {
    auto server = std::make_unique<Pop3TestServer>(std::move(mailbox), std::move(options));
    EXPECT_TRUE(server->start());
    register_account(scheme + server->address());
    return server;
  }

  static cli::Environment environment() {
    cli::Environment env;
    env.clock = [] { return kStoredAt; };
    env.receive_timeout_ms = 20'000;
    return env;
  }
};

// A message of one subject line, an empty line and `body`.
Pop3TestMessage mail(const std::string& name, const std::string& subject,
                     const std::string& body = "x") {
  return {name, join_lines({"Subject: " + subject, "", body})};
}

std::vector<std::string> utf8_lines(std::initializer_list<const char*> lines) {
  return std::vector<std::string>(lines.begin(), lines.end());
}

// The status lines of a session that got through its scan: connect, log in
// and scan, then `middle`, then disconnect.
std::vector<std::string> session(std::initializer_list<const char*> middle) {
  std::vector<std::string> lines = {kConnecting, kAuthenticating, kScanning};
  lines.insert(lines.end(), middle.begin(), middle.end());
  lines.push_back(kDisconnecting);
  return lines;
}

TEST_F(ReceiveEndToEnd, SortsStoresDeletesAndReportsAsTheServerAllows) {
  const MailSpec a1{"a1", "[a] one", "[a] one"};
  const MailSpec b2{"b2", "[b] two", "[b] two"};
  const MailSpec other{"other", "Hello", "Hello"};
  const MailSpec a4{"a4", "[a] three", "[a] three"};
  const MailSpec both{"both", "[abc] news", "[abc] news"};
  const MailSpec jp{"jp", "[jp]" + kHelloWord, "[jp]こんにちは"};
  using Kind = Pop3Fault::Kind;

  const std::vector<ReceiveCase> cases = {
      {.what = "two lists, one other mail; the deleting list's mail goes from the server",
       .lists = {{"A", "[a]", true}, {"B", "[b]", false}}, .mails = {a1, b2, other, a4},
       .status_lines = session({kSorting, kReceiving, kSorting, kSorting, kReceiving, kSorting,
                                kReceiving, "他の新着メールが 1 件ありました"}),
       .retrieval = {"RETR 4", "DELE 4", "RETR 2", "RETR 1", "DELE 1"},
       .logs = {{"A", {{1, "a4"}, {3, "a1"}}}, {"B", {{2, "b2"}}}},
       .left_on_server = {"b2", "other"}, .marked = {"A", "B"}},
      {.what = "a message of two lists is stored only up to the first that deletes it",
       // Search order X, Y: Y is tried first.
       .lists = {{"X", "[abc", false}, {"Y", "[abc]", true}}, .mails = {both},
       .status_lines = session({kSorting, kReceiving, kReceiving, kFailed}),
       .exit_code = cli::kExitOk,  // the second RETR fails as expected
       .retrieval = {"RETR 1", "DELE 1", "RETR 1"}, .logs = {{"Y", {{1, "both"}}}},
       .marked = {"X", "Y"}},
      {.what = "both lists keep it: stored in both, in presentation order",
       .lists = {{"X", "[abc", false}, {"Y", "[abc]", false}}, .mails = {both},
       .status_lines = session({kSorting, kReceiving, kReceiving}),
       .retrieval = {"RETR 1", "RETR 1"}, .logs = {{"Y", {{1, "both"}}}, {"X", {{2, "both"}}}},
       .left_on_server = {"both"}, .marked = {"X", "Y"}},
      {.what = "a refused DELE takes the log back; the message stays",
       .lists = {{"D", "[a]", true}}, .mails = {a1},
       .faults = {{"DELE", 0, Kind::kReply, "-ERR locked\r\n"}},
       .status_lines = session({kSorting, kReceiving, kFailed}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1", "DELE 1"}, .left_on_server = {"a1"}, .marked = {"D"},
       .server_state_meaningful = false},
      {.what = "a DELE without reply keeps the log: the server may have deleted the message",
       .lists = {{"D", "[a]", true}}, .mails = {a1}, .faults = {{"DELE", 0, Kind::kDrop, "", 0}},
       .status_lines = session({kSorting, kReceiving, kFailed}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1", "DELE 1"}, .logs = {{"D", {{1, "a1"}}}},
       .left_on_server = {"a1"}, .marked = {"D"}},
      {.what = "a DELE answered after the time-out keeps the log, and QUIT deletes the message",
       .lists = {{"D", "[a]", true}}, .mails = {a1},
       .faults = {{"DELE", 0, Kind::kLate, "", 0, 800}},
       .status_lines = session({kSorting, kReceiving, kFailed}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1", "DELE 1"}, .logs = {{"D", {{1, "a1"}}}}, .marked = {"D"},
       .receive_timeout_ms = 500},
      {.what = "a QUIT refused after a deletion confirms nothing: a failure",
       .lists = {{"D", "[a]", true}}, .mails = {a1},
       .faults = {{"QUIT", 3, Kind::kReply, "-ERR not now\r\n"}},
       .status_lines = session({kSorting, kReceiving}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1", "DELE 1"}, .logs = {{"D", {{1, "a1"}}}}, .marked = {"D"},
       .server_state_meaningful = false},
      {.what = "a refused RETR stores nothing and sends no DELE",
       .lists = {{"D", "[a]", true}}, .mails = {a1},
       .faults = {{"RETR", 0, Kind::kReply, "-ERR busy\r\n"}},
       .status_lines = session({kSorting, kReceiving, kFailed}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1"}, .left_on_server = {"a1"}, .marked = {"D"}},
      {.what = "mail that matches no list gives the notice and stays",
       .lists = {{"A", "[a]", true}}, .mails = {other, b2},
       .status_lines = session({kSorting, kSorting, "他の新着メールが 2 件ありました"}),
       .left_on_server = {"other", "b2"}},
      {.what = "an encoded Japanese subject matches a Japanese search text",
       .lists = {{"日本", "[jp]こん", true}}, .mails = {jp},
       .status_lines = session({kSorting, kReceiving}), .retrieval = {"RETR 1", "DELE 1"},
       .logs = {{"日本", {{1, "jp"}}}}, .marked = {"日本"}},
      {.what = "a failed scan step ends the scan; what was scanned is sorted",
       .lists = {{"A", "[a]", false}}, .mails = {a1, a4},
       .faults = {{"TOP", 2, Kind::kReply, "-ERR gone\r\n"}},
       .status_lines = session({kSorting, kReceiving}), .exit_code = cli::kExitFailed,
       .retrieval = {"RETR 1"}, .logs = {{"A", {{1, "a1"}}}}, .left_on_server = {"a1", "a4"},
       .marked = {"A"}},
      {.what = "an empty mailbox", .lists = {{"A", "[a]", true}}, .mails = {},
       .status_lines = session({kNoMail})},
      {.what = "no list registered", .lists = {}, .mails = {a1},
       .status_lines = session({kNoList}), .exit_code = cli::kExitFailed,
       .left_on_server = {"a1"}},
  };

  for (const ReceiveCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder folder;
    SetUp();
    register_lists(c.lists);
    std::vector<Pop3TestMessage> mailbox;
    for (const MailSpec& mail : c.mails) mailbox.push_back({mail.name, join_lines(mail_lines(mail))});
    Pop3TestServerOptions options;
    options.user = "u";
    options.password = "p";
    options.faults = c.faults;
    const auto served = serve(mailbox, options);
    Pop3TestServer& server = *served;

    RecordingConsole console;
    cli::Environment env = environment();
    if (c.receive_timeout_ms > 0) env.receive_timeout_ms = c.receive_timeout_ms;
    EXPECT_EQ(run_cli(console, {"receive"}, env), c.exit_code);
    EXPECT_EQ(console.out_lines(), c.status_lines);
    // A failure says why, in one line; a success says nothing there.
    if (c.exit_code == cli::kExitOk) {
      EXPECT_EQ(console.err_text(), "");
    } else {
      const std::string err = console.err_text();
      EXPECT_TRUE(err.starts_with("larkspur-cli: receive: ")) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    EXPECT_TRUE(server.wait_idle(10'000));
    server.stop();

    // The wire: check, scan, then the retrieval connection when there was
    // mail and a list.
    std::vector<std::string> wire = {"USER u", "PASS p", "QUIT", "USER u", "PASS p", "LIST"};
    const std::size_t scanned = c.what.find("failed scan") != std::string::npos ? 2 : c.mails.size();
    for (std::size_t i = 1; i <= scanned; ++i) wire.push_back("TOP " + std::to_string(i) + " 0");
    wire.push_back("QUIT");
    if (!c.lists.empty() && !c.mails.empty()) {
      wire.insert(wire.end(), {"USER u", "PASS p"});
      wire.insert(wire.end(), c.retrieval.begin(), c.retrieval.end());
      // A dropped DELE leaves no connection to quit.
      if (c.what.find("without reply") == std::string::npos) wire.push_back("QUIT");
    }
    EXPECT_EQ(server.transcript(), wire) << ::testing::PrintToString(console.out_lines());
    if (c.server_state_meaningful) {
      EXPECT_EQ(server.mailbox_names(), c.left_on_server);
    }

    // The logs, their pages, and the order of their link lines.
    std::map<std::string, const MailSpec*> by_name;
    for (const MailSpec& mail : c.mails) by_name[mail.name] = &mail;
    for (const ListSpec& list : c.lists) {
      const std::string name = sj(list.name.c_str());
      std::map<int, std::string> expected;
      if (c.logs.count(list.name)) expected = c.logs.at(list.name);
      std::vector<std::string> expected_files;
      for (const auto& [number, mail] : expected) {
        const std::string file = kStamp + std::to_string(number) + ".log";
        expected_files.push_back(file);
        EXPECT_EQ(get_file(list_folder(name) + "\\" + file), stored_text(*by_name.at(mail)));
        EXPECT_TRUE(platform::can_read_file(list_web_folder(name) + "\\" + kStamp +
                                            std::to_string(number) + ".htm"));
      }
      std::sort(expected_files.begin(), expected_files.end());
      EXPECT_EQ(platform::find_files(list_folder(name) + "\\*.*"), expected_files) << list.name;
      const std::vector<std::string> pages = platform::find_files(list_web_folder(name) + "\\*.htm");
      EXPECT_EQ(pages.size(), expected.empty() ? 0u : expected.size() + 3) << list.name;
      // Nothing but pages: no temporary file, no spare.
      EXPECT_EQ(platform::find_files(list_web_folder(name) + "\\*"), pages) << list.name;

      const bool marked = std::find(c.marked.begin(), c.marked.end(), list.name) != c.marked.end();
      EXPECT_EQ(read_list_or_zero(name).new_mail, marked ? 1 : 0) << list.name;
      EXPECT_EQ(read_list_or_zero(name).search_text, sj(list.search.c_str()));
    }
  }
}

TEST_F(ReceiveEndToEnd, LinkLinesStandInDescendingOrderOfSubject) {
  register_lists({{"A", "[a]", true}});
  std::vector<Pop3TestMessage> mailbox;
  for (const char* subject : {"[a] 2", "[a] 10", "[a] 3", "[a] 1"}) mailbox.push_back(mail(subject, subject));
  const auto server = serve(mailbox);
  // What a job killed while writing a log leaves behind goes with the next
  // job that stores into the list.
  put_file("LKset\\A\\~20260101000000_1.log.tmp", "half a log");
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitOk);
  EXPECT_EQ(platform::find_files("LKset\\A\\~*"), std::vector<std::string>{});

  // Stored from the last scanned: "[a] 1" is log 1, "[a] 2" log 4.
  EXPECT_EQ(get_file("LKset\\A\\web\\menu.htm"),
            "<HTML><BODY><CENTER>\n"
            "<A HREF=20260607080910_2.htm target=main>[a] 3</A><P>\n"
            "<A HREF=20260607080910_4.htm target=main>[a] 2</A><P>\n"
            "<A HREF=20260607080910_3.htm target=main>[a] 10</A><P>\n"
            "<A HREF=20260607080910_1.htm target=main>[a] 1</A><P>\n"
            "</CENTER></BODY></HTML>\n");
  EXPECT_EQ(get_file("LKset\\A\\web\\index.htm"), "<HTML>index</HTML>");

  RecordingConsole lists;
  ASSERT_EQ(run_cli(lists, {"lists"}), cli::kExitOk);
  EXPECT_EQ(lists.out_text(), "A\t[a]\tdelete\t1\tLKset\\A\\web\\index.htm\n");
}

TEST_F(ReceiveEndToEnd, AWrongPasswordEndsWithoutMail) {
  register_lists({{"A", "[a]", true}});
  Pop3TestServerOptions options;
  options.user = "u";
  options.password = "right";
  Pop3TestServer server({mail("a1", "[a] 1")}, options);
  ASSERT_TRUE(server.start());
  register_account(server.address(), "wrong");
  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitFailed);
  EXPECT_EQ(console.out_lines(), utf8_lines({kConnecting, kAuthenticating, kAuthFailed,
                                             kSessionError, kNoMail, kDisconnecting}));
  EXPECT_EQ(server.mailbox_names(), std::vector<std::string>{"a1"});
}

TEST_F(ReceiveEndToEnd, ALogOfTheSameSecondAndNumberIsNeverReplaced) {
  register_lists({{"A", "[a]", false}});
  put_file("LKset\\A\\" + kStamp + "1.log", "stored by an earlier job");
  const auto server = serve({mail("a1", "[a] 1"), mail("a2", "[a] 2", "y")});
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitOk);
  EXPECT_EQ(get_file("LKset\\A\\" + kStamp + "1.log"), "stored by an earlier job");
  EXPECT_EQ(get_file("LKset\\A\\" + kStamp + "2.log"), "[a] 2\n\n\nSubject: [a] 2\n\ny\n");
  EXPECT_EQ(get_file("LKset\\A\\" + kStamp + "3.log"), "[a] 1\n\n\nSubject: [a] 1\n\nx\n");
}

TEST_F(ReceiveEndToEnd, SubjectsAreKeptWholeAndAnEmptySearchTextTakesEverything) {
  const std::string long_subject = "[long] " + std::string(300, 'x');
  register_lists({{"All", "", false}, {"Long", "[long] " + std::string(248, 'x'), false}});
  const auto server = serve({mail("long", long_subject),
                             {"none", join_lines({"From: a@example.jp", "", "y"})}});
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitOk);

  // Search order All, Long: Long is tried first. The message without a
  // subject goes to All only, with an empty first line.
  EXPECT_EQ(get_file("LKset\\All\\" + kStamp + "1.log"), "\n\n\nFrom: a@example.jp\n\ny\n");
  EXPECT_EQ(get_file("LKset\\Long\\" + kStamp + "2.log"),
            long_subject + "\n\n\nSubject: " + long_subject + "\n\nx\n");
  EXPECT_EQ(get_file("LKset\\All\\" + kStamp + "3.log"),
            long_subject + "\n\n\nSubject: " + long_subject + "\n\nx\n");
  EXPECT_EQ(console.out_lines(),
            utf8_lines({kConnecting, kAuthenticating, kScanning, kSorting, kReceiving, kSorting,
                        kReceiving, kReceiving, kDisconnecting}));
}

// A record rewritten while the job runs (here by the list dialog of the same
// user, between two stored logs) is read anew for the next message.
TEST_F(ReceiveEndToEnd, ARecordChangedDuringTheJobTakesEffectAtTheNextMessage) {
  register_lists({{"A", "[a]", false}, {"B", "[b]", false}});
  const auto server = serve({mail("m1", "[a] 1"), mail("m2", "[a] 2")});
  cli::Environment env = environment();
  int stores = 0;
  env.clock = [&stores] {
    if (++stores == 1) {  // m2 is being stored in A: A and B swap their texts
      EXPECT_TRUE(write_list("A", ListRecord{"[b]", 0, 0}));
      EXPECT_TRUE(write_list("B", ListRecord{"[a]", 0, 0}));
    }
    return kStoredAt;
  };
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, env), cli::kExitOk);
  EXPECT_EQ(get_file("LKset\\A\\" + kStamp + "1.log"), "[a] 2\n\n\nSubject: [a] 2\n\nx\n");
  EXPECT_EQ(get_file("LKset\\B\\" + kStamp + "2.log"), "[a] 1\n\n\nSubject: [a] 1\n\nx\n");
  EXPECT_EQ(platform::find_files("LKset\\A\\*.log").size(), 1u);
}

#ifndef _WIN32
// Every list that takes a log ends up marked with 1, whatever mark it had. A
// record already marked is left as it is: not rewritten with the same bytes
// (a rewrite replaces the file, so a second link to it would no longer
// follow it).
TEST_F(ReceiveEndToEnd, EveryListThatTakesALogEndsMarkedWithOne) {
  const std::pair<const char*, std::int32_t> lists[] = {{"Zero", 0}, {"One", 1}, {"Seven", 7}};
  for (const auto& [name, mark] : lists) {
    ASSERT_TRUE(write_list(name, ListRecord{"[" + std::string(name) + "]", 0, mark}));
    platform::create_folder(list_folder(name));
    std::filesystem::create_hard_link(std::string("LKset/") + name + ".stf",
                                      std::string(name) + ".link");
  }
  const auto server = serve({mail("z", "[Zero] 1"), mail("o", "[One] 2"), mail("s", "[Seven] 3")});
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitOk);

  for (const auto& [name, mark] : lists) {
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::find_files(list_folder(name) + "\\*.log").size(), 1u);
    EXPECT_EQ(read_list_or_zero(name).new_mail, 1);
    EXPECT_EQ(std::filesystem::hard_link_count(std::string("LKset/") + name + ".stf"),
              mark == 1 ? 2u : 1u);
  }
}
#endif

#ifndef _WIN32
// A record that cannot be opened (here a link to nowhere) is no empty record:
// it takes no message and is never rewritten. An empty record is readable and
// takes every message.
TEST_F(ReceiveEndToEnd, AnUnreadableRecordIsSkippedAndNeverRewritten) {
  register_lists({{"A", "[a]", false}});
  std::filesystem::create_symlink("nowhere", "LKset/Broken.stf");
  put_file("LKset\\Empty.stf", "");
  const auto server = serve({mail("a1", "[a] 1"), mail("z2", "zzz", "y")});
  RecordingConsole console;
  ASSERT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitOk);

  EXPECT_TRUE(std::filesystem::is_symlink("LKset/Broken.stf"));
  EXPECT_FALSE(std::filesystem::exists("LKset/nowhere"));
  EXPECT_TRUE(platform::find_files("LKset\\Broken\\*.*").empty());
  // Empty takes both messages; A takes its own.
  EXPECT_EQ(platform::find_files("LKset\\Empty\\*.log").size(), 2u);
  EXPECT_EQ(platform::find_files("LKset\\A\\*.log").size(), 1u);
  EXPECT_EQ(read_list_or_zero("Empty").new_mail, 1);
  // Presentation order: Empty, Broken, A (search order A, Broken, Empty).
  EXPECT_EQ(console.out_lines(),
            utf8_lines({kConnecting, kAuthenticating, kScanning, kSorting, kReceiving, kSorting,
                        kReceiving, kReceiving, kDisconnecting}));
}
#endif

// Holds a receive job inside its scan: the server stalls on the first TOP and
// tells when it got there.
class StalledScan {
 public:
  StalledScan() {
    Pop3TestServerOptions options;
    options.faults = {{"TOP", 1, Pop3Fault::Kind::kStall, "", 0}};
    options.on_command = [this](const std::string& line) {
      if (line != "TOP 1 0") return;
      std::lock_guard<std::mutex> lock(mutex_);
      stalled_ = true;
      changed_.notify_all();
    };
    server_ = std::make_unique<Pop3TestServer>(
        std::vector<Pop3TestMessage>{mail("a1", "[a] 1")}, options);
  }
  Pop3TestServer& server() { return *server_; }
  bool wait_until_stalled() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return stalled_; });
  }

 private:
  std::unique_ptr<Pop3TestServer> server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stalled_ = false;
};

TEST_F(ReceiveEndToEnd, ACancelDuringTheScanWritesNothing) {
  register_lists({{"A", "[a]", true}});
  StalledScan scan;
  ASSERT_TRUE(scan.server().start());
  register_account(scan.server().address());
  const std::string record_before = get_file("LKset\\A.stf");

  RecordingConsole console;
  int exit_code = -1;
  std::thread receiving([&] { exit_code = run_cli(console, {"receive"}, environment()); });
  ASSERT_TRUE(scan.wait_until_stalled());
  console.interrupt = true;  // Ctrl+C
  receiving.join();

  EXPECT_EQ(exit_code, cli::kExitFailed);
  EXPECT_EQ(console.out_lines(), utf8_lines({kConnecting, kAuthenticating, kScanning}));
  EXPECT_EQ(get_file("LKset\\A.stf"), record_before);
  EXPECT_TRUE(platform::find_files("LKset\\A\\*.*").empty());
  EXPECT_FALSE(platform::folder_exists("LKset\\A\\web"));
  scan.server().stop();
  const std::vector<std::string> transcript = scan.server().transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "RETR 1"), 0);
  EXPECT_EQ(scan.server().mailbox_names(), std::vector<std::string>{"a1"});
}

TEST_F(ReceiveEndToEnd, ASecondJobIsRefusedWhileOneRuns) {
  register_lists({{"A", "[a]", true}});
  StalledScan scan;
  ASSERT_TRUE(scan.server().start());
  register_account(scan.server().address());

  RecordingConsole first;
  std::thread receiving([&] { run_cli(first, {"receive"}, environment()); });
  ASSERT_TRUE(scan.wait_until_stalled());

  RecordingConsole second;
  EXPECT_EQ(run_cli(second, {"receive"}, environment()), cli::kExitFailed);
  EXPECT_EQ(second.out_text(), "");
  EXPECT_EQ(second.err_text(), kJobRunning);
  // The same job state seen from another process: the lock file holds.
  EXPECT_EQ(platform::try_lock_file(kReceiveLockFile), nullptr);

  first.interrupt = true;
  receiving.join();
  // Once the first job is over the folder is free again.
  EXPECT_NE(platform::try_lock_file(kReceiveLockFile), nullptr);
}

TEST_F(ReceiveEndToEnd, ALockHeldElsewhereIsSaidToBeARunningJob) {
  // As another process holds it; on Windows it then cannot even be opened.
  register_lists({{"A", "[a]", true}});
  const std::unique_ptr<platform::FileLock> held = platform::try_lock_file(kReceiveLockFile);
  ASSERT_NE(held, nullptr);

  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitFailed);
  EXPECT_EQ(console.err_text(), kJobRunning);
}

TEST_F(ReceiveEndToEnd, ARecordWhoseNameIsNoPlainNameIsNeverUsedAsAPath) {
  // All-zero records: an empty search text would take every message.
  for (const char* file : {"LKset\\.stf", "LKset\\..stf", "LKset\\...stf"}) {
    put_file(file, std::string(ListRecord::kSize, '\0'));
  }
  const auto server = serve({mail("m1", "[a] one", "body")});

  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitFailed);
  const std::string err = console.err_text();
  for (const char* file : {"LKset\\.stf:", "LKset\\..stf:", "LKset\\...stf:"}) {
    EXPECT_NE(err.find(file), std::string::npos) << file << "\n" << err;
  }
  EXPECT_NE(err.find("larkspur-cli: receive: " + std::string(kNoList)), std::string::npos) << err;
  for (const char* folder : {".", "LKset"}) {
    EXPECT_EQ(platform::find_files(std::string(folder) + "\\*.log"), std::vector<std::string>{});
    EXPECT_FALSE(platform::folder_exists(std::string(folder) + "\\web")) << folder;
  }
  EXPECT_EQ(server->mailbox_names(), std::vector<std::string>{"m1"});
}

TEST_F(ReceiveEndToEnd, PagesThatCannotBeWrittenMakeTheReceiveAFailure) {
  register_lists({{"A", "[a]", false}});
  // A folder where the link page belongs: no link line can be written.
  platform::create_folder(list_web_folder("A"));
  put_file(list_web_folder("A") + "\\index.htm", "<HTML>index</HTML>");
  platform::create_folder(list_web_folder("A") + "\\menu.htm");
  const auto server = serve({mail("m1", "[a] one", "body")});

  RecordingConsole console;
  EXPECT_EQ(run_cli(console, {"receive"}, environment()), cli::kExitFailed);
  const std::string err = console.err_text();
  EXPECT_TRUE(err.starts_with("larkspur-cli: receive: ")) << err;
  // The message itself is stored: only its link is missing.
  EXPECT_EQ(platform::find_files("LKset\\A\\*.log").size(), 1u);
}

// A server that drops or stalls the TLS handshake: the job ends before any
// login, with the TLS status and its reason; a stall ends with Ctrl+C at
// once, and a cancel is neither a TLS nor a login failure.
TEST_F(ReceiveEndToEnd, ATlsHandshakeThatFailsEndsTheJobBeforeTheLogin) {
  const struct {
    Pop3Fault::Kind fault;
    std::vector<std::string> out;
    std::string err;
  } cases[] = {
      {Pop3Fault::Kind::kDrop,
       utf8_lines({kConnecting, kAuthenticating, "サーバー証明書を確認できませんでした"}),
       "larkspur-cli: receive: サーバー証明書を確認できませんでした (handshake failed)\n"},
      {Pop3Fault::Kind::kStall, utf8_lines({kConnecting, kAuthenticating}),
       "larkspur-cli: receive: 受信を中止しました\n"},
  };
  for (const auto& c : cases) {
    testing::TempFolder folder;
    SetUp();
    register_lists({{"A", "[a]", true}});
    Pop3TestServerOptions options;
    options.faults = {{"", 0, c.fault, "", 0}};
    const auto server = serve({mail("a1", "[a] 1")}, options, "pop3s://");
    RecordingConsole console;
    int exit_code = -1;
    std::thread receiving([&] { exit_code = run_cli(console, {"receive"}, environment()); });
    const bool cancel = c.fault == Pop3Fault::Kind::kStall;
    if (cancel) {
      while (server->sessions() == 0) std::this_thread::yield();
      console.interrupt = true;  // Ctrl+C
    }
    const auto cancelled = std::chrono::steady_clock::now();
    receiving.join();
    if (cancel) {
      EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    }
    EXPECT_EQ(exit_code, cli::kExitFailed);
    EXPECT_EQ(console.out_lines(), c.out);
    EXPECT_EQ(console.err_text(), c.err);
    server->stop();
    EXPECT_TRUE(server->transcript().empty());
    EXPECT_TRUE(platform::find_files("LKset\\A\\*.*").empty());
  }
}

}  // namespace
}  // namespace larkspur
