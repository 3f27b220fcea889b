// larkspur-cli import over a corpus written at run time: mbox (mboxrd and
// mboxo quoting, LF and CR LF, Thunderbird's and Takeout's separators), a
// truncated mbox, a binary file given as mbox, Maildir, .eml and folders of
// them; messages without Date or Message-ID and two messages under one
// Message-ID. Each message is stored once per list however often it is
// imported, and a message received by POP3 first is not stored again.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "job/seen_messages.h"
#include "platform/platform.h"
#include "retrieval/mail_date.h"
#include "settings/store.h"
#include "tests/cli/recording_console.h"
#include "tests/pop3server/pop3_test_server.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::put_file;
using testing::RecordingConsole;
using testing::run_cli;

// A message (LF line ends); an empty id or date leaves the field out.
std::string msg(const std::string& id, const std::string& subject, const std::string& body,
                const std::string& date = "Tue, 02 Jan 2024 10:00:00 +0000") {
  std::string text;
  if (!id.empty()) text += "Message-ID: <" + id + "@example.jp>\n";
  if (!date.empty()) text += "Date: " + date + "\n";
  return text + "Subject: " + subject + "\n\n" + body + "\n";
}

enum class Quoting { kMboxrd, kMboxo };

// An mbox of the messages, each after a separator and followed by the
// empty line an mbox puts between messages; body lines quoted as mboxrd
// (">" before every ">*From ") or mboxo (">" before "From " only) write them.
std::string mbox(const std::vector<std::string>& messages,
                 const std::string& separator = "From sender@example.jp Mon Jan  1 00:00:00 2024",
                 Quoting quoting = Quoting::kMboxrd) {
  std::string text;
  for (const std::string& message : messages) {
    text += separator + "\n";
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t end = message.find('\n', at) + 1;
      const std::string line = message.substr(at, end - at);
      const std::size_t quotes = quoting == Quoting::kMboxrd ? line.find_first_not_of('>') : 0;
      if (line.substr(quotes).starts_with("From ")) text += '>';
      text += line;
      at = end;
    }
    text += "\n";
  }
  return text;
}

// Lists each matching its search text, the last `deleting` of them deleting
// their mail from the server.
void write_lists(std::initializer_list<std::pair<const char*, const char*>> lists, int deleting = 0) {
  int left = static_cast<int>(lists.size());
  for (const auto& [name, search] : lists) {
    ListRecord list;
    list.search_text = search;
    list.delete_from_server = left-- <= deleting;
    ASSERT_TRUE(write_list(name, list));
  }
}

// One receive with extended mail handling from a server over `mailbox`;
// the server's names of the messages left afterwards, and its transcript.
struct Received {
  std::vector<std::string> left;
  std::vector<std::string> transcript;
};
Received receive_extended(std::vector<testing::Pop3TestMessage> mailbox) {
  testing::Pop3TestServer server(std::move(mailbox));
  EXPECT_TRUE(server.start());
  AccountRecord account;
  account.account_name = "acct";
  account.server = server.address();
  account.user_name = "u";
  account.password = "p";
  account.options = kAccountOptionExtendedMail;
  EXPECT_TRUE(write_account(account));
  RecordingConsole receive;
  EXPECT_EQ(run_cli(receive, {"receive"}), cli::kExitOk) << receive.err_text();
  EXPECT_TRUE(server.wait_idle(20'000));
  server.stop();
  return {server.mailbox_names(), server.transcript()};
}

std::string crlf(const std::string& lf) {
  std::string out;
  for (char ch : lf) out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  return out;
}

// The log name a Date gives, from log number 1.
std::string log_of(const std::string& date) {
  return log_file_name(*platform::local_time_at(*parse_mail_date(date)), 1);
}

struct ImportCase {
  std::string what;
  std::map<std::string, std::string> files;  // path under in\ -> bytes ("x\" makes a folder)
  std::vector<std::string> args;             // after "import"
  std::vector<std::string> out;              // stdout of the last run
  int exit_code = cli::kExitOk;
  std::string complains = {};                // in stderr of the last run
  std::vector<std::string> texts = {};       // each in some log of list A
  std::vector<std::string> logs = {};        // names of logs list A holds (all of them, when given)
  int runs = 1;                              // the same import again and again
  std::string named_by_file = {};            // a file whose time names list A's only log
  // Between runs the ids files lose their last lines, as when a kill came
  // after the logs but before their keys.
  bool keys_lost_between_runs = false;
};

std::vector<std::string> counts(int a, int b, int already, int none, int unreadable,
                                const std::string& done = "stored") {
  // The lists in presentation order, as the panel and `lists` show them.
  return {"B\t" + std::to_string(b) + " " + done, "A\t" + std::to_string(a) + " " + done,
          "already stored: " + std::to_string(already), "matching no list: " + std::to_string(none),
          "unreadable: " + std::to_string(unreadable)};
}

TEST(Import, EachMessageOnceIntoItsLists) {
  const std::string a1 = msg("a1", "[A] one", "From the editor\n>From quoted\n>>From twice");
  const std::string a2 = msg("a2", "[A] two", "second", "Wed, 03 Jan 2024 09:30:00 +0900");
  const std::string b1 = msg("b1", "[B] one", "bee");
  const std::string other = msg("o1", "Other news", "none");
  const std::string no_date = msg("nd", "[A] undated", "no date", "");
  const std::string no_id = msg("", "[A] no id", "keyed by its bytes");
  const std::vector<ImportCase> cases = {
      {.what = "an mbox: sorted by subject, >From lines unquoted once, logs named by Date",
       .files = {{"a.mbox", mbox({a1, a2, b1, other})}}, .args = {"in\\a.mbox"},
       .out = counts(2, 1, 0, 1, 0),
       .texts = {"From the editor\n", "From quoted\n", "&gt;From twice\n"},
       .logs = {log_of("Tue, 02 Jan 2024 10:00:00 +0000"), log_of("Wed, 03 Jan 2024 09:30:00 +0900")}},
      {.what = "killed after the logs, before their keys: the logs are taken up, none stored twice",
       .files = {{"a.mbox", mbox({a1, no_id, no_date, b1})}}, .args = {"in\\a.mbox"},
       .out = counts(3, 1, 0, 0, 0), .runs = 2, .keys_lost_between_runs = true},
      {.what = "the same mbox three times: stored once",
       .files = {{"a.mbox", mbox({a1, a2, b1, other})}}, .args = {"in\\a.mbox"},
       .out = counts(0, 0, 3, 1, 0), .runs = 3},
      {.what = "CR LF and Thunderbird's separators (mboxo quoting) read as LF",
       .files = {{"Inbox", crlf(mbox({msg("o1", "[A] mboxo", "From the editor\n\nFrom one more"), a2},
                            "From - Mon Jan  1 00:00:00 2024", Quoting::kMboxo))}},
       .args = {"in\\Inbox"}, .out = counts(2, 0, 0, 0, 0),
       .texts = {"From the editor\n\nFrom one more\n", "second\n"}},
      {.what = "Takeout's separators and extra headers",
       .files = {{"All mail.mbox", mbox({"X-GM-THRID: 1\nX-Gmail-Labels: Inbox\n" + a1},
                               "From 1789000000000000000@xxx Tue Jan 02 10:00:00 +0000 2024")}},
       .args = {"in\\All mail.mbox"}, .out = counts(1, 0, 0, 0, 0)},
      {.what = "a body line \"From \" without an empty line before it stays in the message",
       .files = {{"a.mbox", mbox({msg("f1", "[A] from", "line\nFrom someone else here\nlast")})}},
       .args = {"in\\a.mbox"}, .out = counts(1, 0, 0, 0, 0),
       .texts = {"From someone else here\nlast\n"}},
      {.what = "one Message-ID for two different messages: the first is kept",
       .files = {{"a.mbox", mbox({msg("dup", "[A] first", "first body"), msg("dup", "[A] second", "second body")})}},
       .args = {"in\\a.mbox"}, .out = counts(1, 0, 1, 0, 0), .texts = {"first body\n"}},
      {.what = "no Message-ID: known by its bytes, in LF or CR LF",
       .files = {{"a.mbox", mbox({no_id})}, {"b.mbox", crlf(mbox({no_id}))}},
       .args = {"in\\a.mbox", "in\\b.mbox"}, .out = counts(1, 0, 1, 0, 0),
       .texts = {"keyed by its bytes\n"}},
      {.what = "no Date: the log takes the file's time", .files = {{"u.eml", no_date}},
       .args = {"in\\u.eml"}, .out = counts(1, 0, 0, 0, 0), .texts = {"no date\n"},
       .named_by_file = "in\\u.eml"},
      {.what = "a truncated mbox: the last message up to where it ends, and said",
       .files = {{"cut.mbox", mbox({a1}) + "From x@y Mon Jan  1 00:00:00 2024\nMessage-ID: <cut@example.jp>\n"
                                  "Subject: [A] cut\n\nthe text stops he"}},
       .args = {"in\\cut.mbox"}, .out = counts(2, 0, 0, 0, 0),
       .complains = "cut.mbox: オフセット ", .texts = {"the text stops he\n"}},
      {.what = "a binary file given as an mbox: said, nothing stored",
       .files = {{"photo.mbox", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(5000, '\x01')}},
       .args = {"in\\photo.mbox"}, .out = counts(0, 0, 0, 0, 0), .exit_code = cli::kExitFailed,
       .complains = "photo.mbox: mbox、Maildir、.eml のどれでもない"},
      {.what = "a message with NUL bytes in an mbox: unreadable, its offset said, the others stored",
       .files = {{"a.mbox", mbox({a1, msg("bin", "[A] bin", std::string("x\0y", 3)), a2})}},
       .args = {"in\\a.mbox"}, .out = counts(2, 0, 0, 0, 1), .exit_code = cli::kExitFailed,
       .complains = "a.mbox: オフセット " + std::to_string(mbox({a1}).size())},
      {.what = "a Maildir: cur and new, never tmp",
       .files = {{"md\\cur\\1.x:2,S", a1}, {"md\\new\\2.x", b1}, {"md\\tmp\\3.x", a2}},
       .args = {"in\\md"}, .out = counts(1, 1, 0, 0, 0)},
      {.what = "a Thunderbird profile folder: mbox files found at any depth, .msf and others skipped",
       .files = {{"tb\\Inbox", mbox({a1})}, {"tb\\Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->"},
        {"tb\\Mags.sbd\\Weekly", mbox({a2, b1})}, {"tb\\notes.txt", "not mail"}},
       .args = {"in\\tb"},
       .out = [] {
         std::vector<std::string> out = counts(2, 1, 0, 0, 0);
         out.push_back("files skipped: 2");
         return out;
       }()},
      {.what = "a folder of .eml files and a .eml given by name",
       .files = {{"eml\\1.eml", a1}, {"eml\\2.eml", crlf(b1)}, {"3.eml", a2}},
       .args = {"in\\eml", "in\\3.eml"}, .out = counts(2, 1, 0, 0, 0)},
      {.what = "a line longer than a read piece, in CR LF",
       .files = {{"long.mbox", crlf(mbox({msg("long", "[A] long", std::string(3 << 20, 'x') + "\nFrom the end"), a2}))}},
       .args = {"in\\long.mbox"}, .out = counts(2, 0, 0, 0, 0), .texts = {"x\nFrom the end\n"}},
      {.what = "--list: every message to that list", .files = {{"a.mbox", mbox({a1, b1, other})}},
       .args = {"in\\a.mbox", "--list", "B"},
       .out = {"B\t3 stored", "already stored: 0", "matching no list: 0", "unreadable: 0"}},
      {.what = "--dry-run: the counts, nothing stored",
       .files = {{"a.mbox", mbox({a1, a1, a2, b1, other})}},
       .args = {"in\\a.mbox", "--dry-run"}, .out = counts(2, 1, 1, 1, 0, "would be stored")},
  };
  for (const ImportCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder folder;
    create_working_folders();
    write_lists({{"A", "[A]"}, {"B", "[B]"}});
    for (const auto& [path, bytes] : c.files) {
      platform::create_folder("in");
      for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
        platform::create_folder("in\\" + path.substr(0, at));
      }
      put_file("in\\" + path, bytes);
    }
    std::vector<std::string> out;
    std::string err;
    for (int run = 0; run < c.runs; ++run) {
      if (run > 0 && c.keys_lost_between_runs) {
        for (const char* name : {"A", "B"}) platform::write_file_fast(stored_ids_path(name), "");
      }
      RecordingConsole console;
      std::vector<std::string> args = {"import"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      EXPECT_EQ(run_cli(console, args), c.exit_code) << console.err_text();
      out = console.out_lines();
      err = console.err_text();
    }
    EXPECT_EQ(out, c.out) << err;
    EXPECT_NE(err.find(c.complains), std::string::npos) << err;
    std::string all_logs;
    std::set<std::string> contents;  // no message is stored twice
    const std::vector<std::string> logs = platform::find_files(list_folder("A") + "\\*.log");
    for (const std::string& log : logs) {
      const std::string content = platform::read_file(list_folder("A") + "\\" + log).value_or("");
      EXPECT_TRUE(contents.insert(content).second) << log;
      all_logs += content;
    }
    for (const std::string& text : c.texts) EXPECT_NE(all_logs.find(text), std::string::npos) << text;
    if (!c.logs.empty()) {
      EXPECT_EQ(logs, c.logs);
    }
    if (!c.named_by_file.empty()) {
      EXPECT_EQ(logs, std::vector<std::string>{log_file_name(*platform::file_modified_time(c.named_by_file), 1)});
    }
    // Every log has its page, and a list that took mail has its mark.
    for (const std::string& log : logs) {
      EXPECT_TRUE(platform::can_read_file(list_web_folder("A") + "\\" + log.substr(0, log.size() - 4) + ".htm"));
    }
    if (c.args.back() == "--dry-run") {
      EXPECT_TRUE(logs.empty());
      EXPECT_EQ(read_list("A")->new_mail, 0);
    } else if (!logs.empty()) {
      EXPECT_EQ(read_list("A")->new_mail, 1);
    }
  }
}

// A message received by POP3 with extended mail handling, then found in an
// mbox (with CR LF line ends and a separator the server never sent): its
// Message-ID key was noted by the receive, so the import stores it nowhere
// again; a message the server did not have is stored.
TEST(Import, AMessageReceivedByPop3IsNotStoredAgain) {
  testing::TempFolder folder;
  create_working_folders();
  write_lists({{"A", "[A]"}});
  const std::string received = msg("pop", "[A] by pop", "over the network");
  receive_extended({{"m1", crlf(received)}});
  ASSERT_EQ(platform::find_files(list_folder("A") + "\\*.log").size(), 1u);

  platform::create_folder("in");
  put_file("in\\a.mbox", crlf(mbox({received, msg("new", "[A] new", "only in the file")})));
  RecordingConsole import;
  EXPECT_EQ(run_cli(import, {"import", "in\\a.mbox"}), cli::kExitOk) << import.err_text();
  EXPECT_EQ(import.out_lines(), (std::vector<std::string>{"A\t1 stored", "already stored: 1",
                                                         "matching no list: 0", "unreadable: 0"}));
  EXPECT_EQ(platform::find_files(list_folder("A") + "\\*.log").size(), 2u);
  // The receive's own ids are as they were: the keys are lines an older
  // reader skips.
  EXPECT_EQ(read_stored_ids("A").size(), 1u);

  // An ids file written before keys were noted (the id lines alone): the
  // received message is known by the fingerprint its id line holds.
  const std::string ids = platform::read_file(stored_ids_path("A")).value_or("");
  ASSERT_TRUE(platform::write_file_fast(stored_ids_path("A"), ids.substr(0, ids.find("\n\t") + 1)));
  ASSERT_EQ(read_stored_keys("A").size(), 0u);
  RecordingConsole again;
  EXPECT_EQ(run_cli(again, {"import", "in\\a.mbox", "--list", "A"}), cli::kExitOk) << again.err_text();
  EXPECT_EQ(again.out_lines(), (std::vector<std::string>{"A\t1 stored", "already stored: 1",
                                                        "matching no list: 0", "unreadable: 0"}));
}

// The other way round: a message imported first and then found on the
// server (headers as sent, CR LF) is not received again; a list that deletes
// its mail deletes it on the server, its log being there.
TEST(Import, AMessageImportedFirstIsNotReceivedAgain) {
  testing::TempFolder folder;
  create_working_folders();
  write_lists({{"K", "[K]"}, {"D", "[D]"}}, 1);
  const std::string kept = msg("k1", "[K] kept", "kept on the server");
  const std::string deleted = msg("d1", "[D] deleted", "deleted on the server");
  platform::create_folder("in");
  put_file("in\\a.mbox", mbox({kept, deleted}));
  RecordingConsole import;
  ASSERT_EQ(run_cli(import, {"import", "in\\a.mbox"}), cli::kExitOk) << import.err_text();

  const Received server = receive_extended({{"m1", crlf(kept)}, {"m2", crlf(deleted)}});
  EXPECT_EQ(platform::find_files(list_folder("K") + "\\*.log").size(), 1u);
  EXPECT_EQ(platform::find_files(list_folder("D") + "\\*.log").size(), 1u);
  EXPECT_EQ(server.left, std::vector<std::string>{"m1"});
  for (const std::string& line : server.transcript) EXPECT_FALSE(line.starts_with("RETR")) << line;
}

}  // namespace
}  // namespace larkspur
