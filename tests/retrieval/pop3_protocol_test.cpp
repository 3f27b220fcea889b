// The POP3 client against the scripted server over real sockets. Each case
// is a script: the mailbox and the server's faults, the client's steps, the
// results the steps must give, and the command lines the server must see.
#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "retrieval/pop3_client.h"
#include "tests/pop3server/pop3_test_server.h"
#include "tests/support/temp_folder.h"

namespace larkspur {
namespace {

using testing::join_lines;
using testing::Pop3Fault;
using testing::Pop3TestMessage;
using testing::Pop3TestServer;
using testing::Pop3TestServerOptions;
using testing::sj;
using Kind = Pop3Fault::Kind;
using Lines = std::vector<std::string>;

constexpr int kTestReceiveMs = 10'000;  // a broken case fails instead of hanging

Pop3TestMessage msg(std::string name, const Lines& lines) {
  return {std::move(name), join_lines(lines)};
}

// A connection that notes what each send_all carried, so that a test sees
// which commands left together (a pipelined burst) and which one by one.
class RecordingConnection : public platform::TcpConnection {
 public:
  RecordingConnection(std::unique_ptr<platform::TcpConnection> inner, std::shared_ptr<Lines> sends)
      : inner_(std::move(inner)), sends_(std::move(sends)) {}
  bool send_all(std::string_view data) override {
    sends_->emplace_back(data);
    return inner_->send_all(data);
  }
  int receive(char* buffer, int capacity, int timeout_ms) override {
    return inner_->receive(buffer, capacity, timeout_ms);
  }
  void abort() override { inner_->abort(); }

 private:
  std::unique_ptr<platform::TcpConnection> inner_;
  std::shared_ptr<Lines> sends_;
};

// One send per entry, its command lines joined by ",": "TOP 1 0,TOP 2 0".
std::string bursts(const Lines& sends) {
  std::string out;
  for (const std::string& send : sends) {
    if (!out.empty()) out += " | ";
    std::string_view rest = send;
    for (bool first = true; !rest.empty(); first = false) {
      const std::size_t end = std::min(rest.find("\r\n"), rest.size());
      if (!first) out += ",";
      out += rest.substr(0, end);
      rest.remove_prefix(std::min(end + 2, rest.size()));
    }
  }
  return out;
}

// "batch top 1 2 retr 1 dele 1 2": each word top, retr or dele picks the
// command for the numbers that follow it.
std::vector<Pop3Request> batch_requests(std::istringstream& words) {
  std::vector<Pop3Request> requests;
  std::string verb, word;
  while (words >> word) {
    if (word == "top" || word == "retr" || word == "dele") {
      verb = word;
    } else if (verb == "top") {
      requests.push_back({"TOP " + word + " 0", true});
    } else if (verb == "retr") {
      requests.push_back({"RETR " + word, true});
    } else {
      requests.push_back({"DELE " + word, false});
    }
  }
  return requests;
}

// One word per reply delivered: ok:TEXT, neg:STATUS or long, a text's line
// feeds shown as '/'; @N when the reply came for another request than the
// next in order.
std::string run_batch(Pop3Client& c, const std::vector<Pop3Request>& requests) {
  std::string replies;
  std::size_t delivered = 0;
  const auto sink = [&](std::size_t index, Pop3Reply reply, std::string& text) {
    replies += reply == Pop3Reply::kOk ? " ok:" : reply == Pop3Reply::kNegative ? " neg:" : " long";
    for (char& ch : text) {
      if (ch == '\n') ch = '/';
    }
    if (reply != Pop3Reply::kTooLong) replies += text;
    if (index != delivered) replies += "@" + std::to_string(index);
    ++delivered;
    return true;
  };
  const int r = pop3_run_batch(c, requests, sink);
  return "batch " + std::to_string(r) + replies;
}

// Runs client steps, one result line per step (a scan gives one per message):
//   init [SCHEME] | verify USER PASS | open | next | scan | retr N [del] [crlf] |
//   dele N | close | shutdown | uidl | numbers | sizes | top N | raw N | subject N |
//   why (the login failure, as its number) | login USER PASS [top N...] | pipelining |
//   batch (see batch_requests and run_batch) |
//   bursts (the sends since the last bursts step; needs `sends`)
Lines run_steps(Pop3Client& c, const std::string& address, const Lines& steps,
                const std::shared_ptr<Lines>& sends = nullptr) {
  Lines results;
  const auto next = [&c]() {
    const int r = pop3_next_message(c);
    if (r != 1) return "next " + std::to_string(r);
    return "next 1 #" + std::to_string(pop3_current_number(c)) + " " + pop3_current_subject(c);
  };
  for (const std::string& step : steps) {
    std::istringstream words(step);
    std::string verb, a, b, d;
    words >> verb >> a >> b >> d;
    if (verb == "init") {
      results.push_back("init " + std::to_string(pop3_init(c, a + address)));
    } else if (verb == "login") {
      std::istringstream ahead(step);
      ahead >> verb >> a >> b;
      results.push_back("login " + std::to_string(pop3_login(c, a, b, batch_requests(ahead))));
    } else if (verb == "pipelining") {
      results.push_back("pipelining " + std::to_string(pop3_pipelining(c)));
    } else if (verb == "batch") {
      std::istringstream rest(step.substr(verb.size()));
      results.push_back(run_batch(c, batch_requests(rest)));
    } else if (verb == "bursts" && sends) {
      results.push_back("bursts " + bursts(*sends));
      sends->clear();
    } else if (verb == "verify") {
      results.push_back("verify " + std::to_string(pop3_verify_login(c, a, b)));
    } else if (verb == "open") {
      results.push_back("open " + std::to_string(pop3_open(c)));
    } else if (verb == "next") {
      results.push_back(next());
    } else if (verb == "scan") {
      for (;;) {
        results.push_back(next());
        if (!results.back().starts_with("next 1")) break;
      }
    } else if (verb == "retr") {
      std::string text;
      const int r = pop3_retrieve(c, std::stoi(a), text, b == "crlf" || d == "crlf",
                                  b == "del" || d == "del");
      results.push_back("retr " + std::to_string(r) + " " + text);
    } else if (verb == "uidl") {
      std::vector<Pop3UniqueId> ids;
      std::string line = "uidl " + std::to_string(pop3_unique_ids(c, ids));
      for (const auto& id : ids) line += " " + std::to_string(id.number) + ":" + id.uid;
      results.push_back(line);
    } else if (verb == "sizes") {
      std::vector<Pop3ListEntry> entries;
      std::string line = "sizes " + std::to_string(pop3_list_sizes(c, entries));
      for (const auto& e : entries) line += " " + std::to_string(e.number) + ":" + std::to_string(e.size);
      results.push_back(line);
    } else if (verb == "why") {
      results.push_back("why " + std::to_string(static_cast<int>(pop3_login_failure(c))));
    } else if (verb == "numbers") {
      std::vector<int> numbers;
      std::string line = "numbers " + std::to_string(pop3_message_numbers(c, numbers));
      for (int number : numbers) line += " " + std::to_string(number);
      results.push_back(line);
    } else if (verb == "top" || verb == "raw") {
      std::string text;
      const int r = verb == "top" ? pop3_header_block(c, std::stoi(a), text)
                                  : pop3_retrieve_raw(c, std::stoi(a), text);
      results.push_back(verb + " " + std::to_string(r) + " " + text);
    } else if (verb == "subject") {
      std::string subject;
      const int r = pop3_scan_subject(c, std::stoi(a), subject);
      results.push_back("subject " + std::to_string(r) + " " + subject);
    } else if (verb == "dele") {
      results.push_back("dele " + std::to_string(pop3_delete(c, std::stoi(a))));
    } else if (verb == "close") {
      pop3_close(c);
      results.push_back("close");
    } else if (verb == "shutdown") {
      pop3_shutdown(c);
      results.push_back("shutdown");
    } else {
      ADD_FAILURE() << "unknown step " << step;
    }
  }
  return results;
}

const std::string kHiraganaSubject = "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
const std::string kHelloJis = "\x1B$B$3$s$K$A$O\x1B(B";  // こんにちは in JIS
const Lines kLogin = {"USER u", "PASS p"};
const Lines kCheck = {"USER u", "PASS p", "QUIT"};

Lines concat(std::initializer_list<Lines> parts) {
  Lines out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct ProtocolCase {
  std::string name;
  std::vector<Pop3TestMessage> mailbox;
  Pop3TestServerOptions server;
  Lines steps;
  Lines results;
  Lines wire;            // command lines the server received
  Lines remaining = {};  // names left in the mailbox; empty: all of them
  std::size_t max_reply_bytes = kMaxReplyBytes;
  int receive_ms = kTestReceiveMs;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) { *os << c.name; }

Pop3TestServerOptions faults(std::vector<Pop3Fault> list) {
  Pop3TestServerOptions options;
  options.faults = std::move(list);
  return options;
}

Pop3TestServerOptions chunked(std::size_t bytes) {
  Pop3TestServerOptions options;
  options.chunk_bytes = bytes;
  return options;
}

const std::vector<Pop3TestMessage> kTwo = {
    msg("a", {"From: a@example.jp", kHiraganaSubject, "", "body of a"}),
    msg("b", {"From: b@example.jp", "", "no subject here"}),
};

// A case that checks the login and then opens a session: its steps, results
// and wire are those that follow the opening.
ProtocolCase opened(ProtocolCase c) {
  c.steps.insert(c.steps.begin(), {"init", "verify u p", "open"});
  c.results.insert(c.results.begin(), {"init 1", "verify 1", "open 1"});
  c.wire = concat({kCheck, kLogin, c.wire});
  return c;
}

std::vector<ProtocolCase> protocol_cases() {
  const std::string a_text = "From: a@example.jp\n" + kHiraganaSubject + "\n\nbody of a\n";
  const std::string long_line(10'000, 'L');
  const std::string long_subject(600, 's');
  // A message over the reply bound, a line over it, and one that fits.
  std::vector<Pop3TestMessage> big = {
      msg("big", {"Subject: big", "", std::string(900, 'x'), std::string(900, 'y')}),
      msg("wide", {"Subject: wide", "", std::string(1500, 'w')}),
      msg("small", {"Subject: small", "", "fine"})};
  Pop3TestServerOptions secret;
  secret.user = "u";
  secret.password = "secret";

  const std::vector<Pop3TestMessage> raw_two = {
      msg("id-a", {"Subject: " + kHelloJis, "", kHelloJis, ".dot", "..two"}),
      msg("id-b", {"Subject: b", "", "b"})};
  const Lines raw_steps = {"init", "verify u p", "open", "uidl", "numbers", "top 1", "raw 1",
                           "close"};
  const Lines raw_wire = concat({kCheck, kLogin, {"UIDL", "LIST", "TOP 1 0", "RETR 1", "QUIT"}});
  const std::string raw_header = "Subject: " + kHelloJis + "\n\n";

  // Batches on one session: three messages, one line to unstuff.
  const std::vector<Pop3TestMessage> three = {msg("a", {"Subject: a", "", "text a"}),
                                              msg("b", {"Subject: b", "", ".dot b"}),
                                              msg("c", {"Subject: c", "", "text c"})};
  const auto pipelined = [](std::size_t chunk, std::vector<Pop3Fault> list = {}) {
    Pop3TestServerOptions options = faults(std::move(list));
    options.capabilities = {"TOP", "PIPELINING", "UIDL"};
    options.chunk_bytes = chunk;
    return options;
  };
  const Lines capa_login = {"CAPA", "USER u", "PASS p"};
  const Lines batch_steps = {"init", "login u p", "pipelining", "batch top 1 2 3",
                             "batch retr 1 2 3 dele 1 2", "bursts", "close"};
  const std::string tops = "batch 1 ok:Subject: a// ok:Subject: b// ok:Subject: c//";
  const std::string retrs =
      "batch 1 ok:Subject: a//text a/ ok:Subject: b//.dot b/ ok:Subject: c//text c/";
  const Lines batch_results = {
      "init 1", "login 1", "pipelining 1", tops, retrs + " ok:+OK marked ok:+OK marked",
      "bursts CAPA | USER u,PASS p | TOP 1 0,TOP 2 0,TOP 3 0 | RETR 1,RETR 2,RETR 3,DELE 1,DELE 2",
      "close"};
  Lines one_at_a_time = batch_results;
  one_at_a_time[2] = "pipelining 0";
  one_at_a_time[5] =
      "bursts CAPA | USER u | PASS p | TOP 1 0 | TOP 2 0 | TOP 3 0 | RETR 1 | RETR 2 | RETR 3 | "
      "DELE 1 | DELE 2";
  const Lines batch_wire = concat({capa_login, {"TOP 1 0", "TOP 2 0", "TOP 3 0", "RETR 1", "RETR 2",
                                                "RETR 3", "DELE 1", "DELE 2", "QUIT"}});
  Pop3TestServerOptions secret_pipelined = secret;
  secret_pipelined.capabilities = {"PIPELINING"};
  std::vector<ProtocolCase> cases = {
      {.name = "batch_one_at_a_time_without_pipelining", .mailbox = three, .server = {},
       .steps = batch_steps, .results = one_at_a_time, .wire = batch_wire,
       .remaining = {"c"}},
      {.name = "batch_negative_reply_for_its_request_only", .mailbox = three,
       .server = pipelined(0, {{"TOP", 2, Kind::kReply, "-ERR gone\r\n"},
                     {"DELE", 1, Kind::kReply, "-ERR locked\r\n"}}),
       .steps = batch_steps,
       .results = {"init 1", "login 1", "pipelining 1", "batch 1 ok:Subject: a// neg:-ERR gone ok:Subject: c//",
        retrs + " neg:-ERR locked ok:+OK marked", batch_results[5], "close"},
       .wire = batch_wire, .remaining = {"a", "c"}},
      // A reply cut short: the ones before it are whole, none after it is
      // made up, and the session sends nothing more.
      {.name = "batch_of_tops_dropped_midway", .mailbox = three,
       .server = pipelined(0, {{"TOP", 2, Kind::kDrop, "", 12}}),
       .steps = {"init", "login u p", "batch top 1 2 3", "batch top 3", "bursts"},
       .results = {"init 1", "login 1", "batch -1 ok:Subject: a//", "batch -1",
        "bursts CAPA | USER u,PASS p | TOP 1 0,TOP 2 0,TOP 3 0"},
       .wire = concat({capa_login, {"TOP 1 0", "TOP 2 0"}})},
      {.name = "batch_of_retrs_dropped_midway", .mailbox = three,
       .server = pipelined(0, {{"RETR", 2, Kind::kDrop, "", 20}}),
       .steps = {"init", "login u p", "batch retr 1 2 3", "batch retr 3", "bursts"},
       .results = {"init 1", "login 1", "batch -1 ok:Subject: a//text a/", "batch -1",
        "bursts CAPA | USER u,PASS p | RETR 1,RETR 2,RETR 3"},
       .wire = concat({capa_login, {"RETR 1", "RETR 2"}})},
      {.name = "batch_of_deles_dropped_midway", .mailbox = three,
       .server = pipelined(0, {{"DELE", 2, Kind::kDrop, "", 5}}),
       .steps = {"init", "login u p", "batch dele 1 2 3", "batch dele 3", "bursts"},
       .results = {"init 1", "login 1", "batch -1 ok:+OK marked", "batch -1",
        "bursts CAPA | USER u,PASS p | DELE 1,DELE 2,DELE 3"},
       .wire = concat({capa_login, {"DELE 1", "DELE 2"}})},
      {.name = "batch_reply_over_the_bound_keeps_step",
       .mailbox = {three[0], msg("big", {"Subject: big", "", std::string(30, 'x')}), three[2]},
       .server = pipelined(0),
       .steps = {"init", "login u p", "batch retr 1 2 3 dele 3", "close"},
       .results = {"init 1", "login 1", "batch 1 ok:Subject: a//text a/ long ok:Subject: c//text c/ ok:+OK marked",
        "close"},
       .wire = concat({capa_login, {"RETR 1", "RETR 2", "RETR 3", "DELE 3", "QUIT"}}),
       .remaining = {"a", "big"}, .max_reply_bytes = 40},
      {.name = "login_refused_after_capa", .mailbox = three, .server = secret_pipelined,
       .steps = {"init", "login u p", "why", "pipelining", "batch top 1", "bursts"},
       .results = {"init 1", "login 0", "why 4", "pipelining 0", "batch -1",
        "bursts CAPA | USER u,PASS p | QUIT"},
       .wire = concat({capa_login, {"QUIT"}})},
      // The first batch goes out with the login where the server pipelines.
      {.name = "batch_sent_ahead_with_the_login", .mailbox = three, .server = pipelined(0),
       .steps = {"init", "login u p top 1 2", "batch top 1 2 3", "bursts", "close"},
       .results = {"init 1", "login 1", tops, "bursts CAPA | USER u,PASS p,TOP 1 0,TOP 2 0 | TOP 3 0",
        "close"},
       .wire = concat({capa_login, {"TOP 1 0", "TOP 2 0", "TOP 3 0", "QUIT"}})},
      {.name = "batch_not_sent_ahead_without_pipelining", .mailbox = three, .server = {},
       .steps = {"init", "login u p top 1 2", "batch top 1 2 3", "bursts", "close"},
       .results = {"init 1", "login 1", tops,
        "bursts CAPA | USER u | PASS p | TOP 1 0 | TOP 2 0 | TOP 3 0", "close"},
       .wire = concat({capa_login, {"TOP 1 0", "TOP 2 0", "TOP 3 0", "QUIT"}})},
      {.name = "login_refused_with_a_batch_sent_ahead", .mailbox = three, .server = secret_pipelined,
       .steps = {"init", "login u p top 1", "why", "batch top 1", "bursts"},
       .results = {"init 1", "login 0", "why 4", "batch -1", "bursts CAPA | USER u,PASS p,TOP 1 0 | QUIT"},
       .wire = concat({capa_login, {"TOP 1 0", "QUIT"}})},
      {.name = "login_stls_refused_before_capa", .mailbox = three, .server = pipelined(0),
       .steps = {"init pop3+starttls://", "login u p", "why"},
       .results = {"init 1", "login 0", "why 5"},
       .wire = {"STLS", "QUIT"}},
      {.name = "uidl_top_and_retr_leave_the_bytes_as_sent", .mailbox = raw_two, .server = {},
       .steps = raw_steps,
       .results = {"init 1", "verify 1", "open 1", "uidl 1 1:id-a 2:id-b", "numbers 1 1 2",
        "top 1 " + raw_header, "raw 1 " + raw_header + kHelloJis + "\n.dot\n..two\n", "close"},
       .wire = raw_wire},
      {.name = "uidl_refused_leaves_the_connection_usable", .mailbox = raw_two,
       .server = faults({{"UIDL", 0, Kind::kReply, "-ERR unsupported\r\n"}}), .steps = raw_steps,
       .results = {"init 1", "verify 1", "open 1", "uidl 0", "numbers 1 1 2", "top 1 " + raw_header,
        "raw 1 " + raw_header + kHelloJis + "\n.dot\n..two\n", "close"},
       .wire = raw_wire},
      opened({.name = "uidl_ids_are_the_whole_rest_of_the_line", .mailbox = raw_two,
       .server = faults({{"UIDL", 0, Kind::kReply, "+OK\r\n1 id a\r\nx y\r\n2 id-b\r\n.\r\n"}}),
       .steps = {"uidl", "sizes"},
       .results = {"uidl 1 1:id a 0:y 2:id-b", "sizes 1 1:" + std::to_string(raw_two[0].data.size()) +
                                                   " 2:" + std::to_string(raw_two[1].data.size())},
       .wire = {"UIDL", "LIST"}}),
      opened({.name = "raw_reply_over_the_bound_is_told_apart", .mailbox = raw_two, .server = {},
       .steps = {"raw 1", "raw 2"}, .results = {"raw -2 ", "raw 1 Subject: b\n\nb\n"},
       .wire = {"RETR 1", "RETR 2"}, .remaining = {}, .max_reply_bytes = 20}),
      {.name = "bare_line_feeds_are_named", .mailbox = raw_two,
       .server = faults({{"", 0, Kind::kReply, "+OK hi\n"}}),
       .steps = {"init", "verify u p", "why"}, .results = {"init 1", "verify 0", "why 3"},
       .wire = {}, .remaining = {}, .max_reply_bytes = kMaxReplyBytes, .receive_ms = 300},
      opened({.name = "uidl_cut_short_fails", .mailbox = raw_two,
       .server = faults({{"UIDL", 0, Kind::kDrop, "", 20}}), .steps = {"uidl"},
       .results = {"uidl -1"}, .wire = {"UIDL"}}),
      opened({.name = "check_scan_quit", .mailbox = kTwo, .server = {},
       .steps = {"scan", "close", "shutdown"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next 1 #2 ", "next 0", "close", "shutdown"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "QUIT"}}),
      {.name = "negative_greeting_not_examined", .mailbox = kTwo,
       .server = faults({{"", 0, Kind::kReply, "-ERR busy\r\n"}}),
       .steps = {"init", "verify u p"}, .results = {"init 1", "verify 1"}, .wire = kCheck},
      {.name = "wrong_password_answered_with_quit", .mailbox = kTwo, .server = secret,
       .steps = {"init", "verify u p", "open", "why"},
       .results = {"init 1", "verify 0", "open 0", "why 4"}, .wire = kCheck},
      {.name = "negative_user_answered_with_quit", .mailbox = kTwo,
       .server = faults({{"USER", 0, Kind::kReply, "-ERR\r\n"}}),
       .steps = {"init", "verify u p"}, .results = {"init 1", "verify 0"},
       .wire = {"USER u", "QUIT"}},
      {.name = "reply_without_plus_is_positive", .mailbox = kTwo,
       .server = faults({{"USER", 0, Kind::kReply, "OK\r\n"}, {"PASS", 0, Kind::kReply, "fine\r\n"}}),
       .steps = {"init", "verify u p"}, .results = {"init 1", "verify 1"}, .wire = kCheck},
      opened({.name = "empty_mailbox", .mailbox = {}, .server = {}, .steps = {"next", "close"},
       .results = {"next 0", "close"}, .wire = {"LIST", "QUIT"}}),
      opened({.name = "subject_folded_over_three_lines_or_in_lower_case",
       .mailbox = {msg("f", {"Subject: =?ISO-2022-JP?B?GyRCJDMkcxsoQg==?=",
                             " =?ISO-2022-JP?B?GyRCJEskQRsoQg==?=", "\t=?ISO-2022-JP?B?GyRCJE8bKEI=?=",
                             "To: x@example.jp", "", "b"}),
                   msg("l", {"subject: hidden", "Subject:nospace", "", "b"})},
       .server = {}, .steps = {"scan"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next 1 #2 ", "next 0"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0"}}),
      opened({.name = "dot_lines_do_not_end_the_header",
       .mailbox = {msg("d", {".X-Dot: 1", "..", "Subject: after dots", "", "b"})}, .server = {},
       .steps = {"scan"}, .results = {"next 1 #1 after dots", "next 0"},
       .wire = {"LIST", "TOP 1 0"}}),
      // The classic scan as its source runs it: the listing, then one TOP per
      // number, each subject decoded as the stepwise scan decodes it.
      opened({.name = "scan_by_numbers_and_subjects", .mailbox = kTwo,
       .server = faults({{"TOP", 2, Kind::kReply, "-ERR\r\n"}}),
       .steps = {"numbers", "subject 1", "subject 2", "subject 1", "close"},
       .results = {"numbers 1 1 2", "subject 1 " + sj("こんにちは"), "subject -1 ",
        "subject 1 " + sj("こんにちは"), "close"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "TOP 1 0", "QUIT"}}),
      opened({.name = "three_dots_stored_as_two", .mailbox = kTwo,
       .server = faults({{"RETR", 0, Kind::kReply, "+OK\r\n...\r\n..a\r\n.b\r\nend\r\n.\r\n"}}),
       .steps = {"retr 1", "close"}, .results = {"retr 1 ..\n.a\n.b\nend\n", "close"},
       .wire = {"RETR 1", "QUIT"}}),
      opened({.name = "dot_stuffing_round_trip",
       .mailbox = {msg("s", {"Subject: s", "", "..", ".", "...x", "line"})}, .server = {},
       .steps = {"retr 1"}, .results = {"retr 1 Subject: s\n\n..\n.\n...x\nline\n"},
       .wire = {"RETR 1"}}),
      opened({.name = "jis_lines_crlf_and_bare_lf",
       .mailbox = {msg("j", {"Subject: s", "", "\x1B$B$3$s\x1B(B", "a\nb"})}, .server = {},
       .steps = {"retr 1 crlf"},
       .results = {"retr 1 Subject: s\r\n\r\n" + sj("こん") + "\r\na\nb\r\n"}, .wire = {"RETR 1"}}),
      {.name = "delete_carried_out_at_quit", .mailbox = kTwo, .server = {},
       .steps = {"init", "verify u p", "open", "retr 1 del", "close", "open", "scan", "close"},
       .results = {"init 1", "verify 1", "open 1", "retr 1 " + a_text, "close", "open 1", "next 1 #1 ",
        "next 0", "close"},
       .wire = concat({kCheck, kLogin, {"RETR 1", "DELE 1", "QUIT"}, kLogin, {"LIST", "TOP 1 0", "QUIT"}}),
       .remaining = {"b"}},
      opened({.name = "no_dele_without_delete_flag", .mailbox = kTwo, .server = {},
       .steps = {"retr 1", "close"}, .results = {"retr 1 " + a_text, "close"},
       .wire = {"RETR 1", "QUIT"}}),
      opened({.name = "negative_dele_fails_the_retrieval", .mailbox = kTwo,
       .server = faults({{"DELE", 0, Kind::kReply, "-ERR locked\r\n"}}),
       .steps = {"retr 1 del", "close"}, .results = {"retr 0 " + a_text, "close"},
       .wire = {"RETR 1", "DELE 1", "QUIT"}}),
      opened({.name = "negative_retr", .mailbox = kTwo,
       .server = faults({{"RETR", 0, Kind::kReply, "-ERR no\r\n"}}),
       .steps = {"retr 1 del", "close"}, .results = {"retr 0 ", "close"},
       .wire = {"RETR 1", "QUIT"}}),
      opened({.name = "delete_on_its_own", .mailbox = kTwo, .server = {},
       .steps = {"dele 2", "dele 9", "close"}, .results = {"dele 1", "dele 0", "close"},
       .wire = {"DELE 2", "DELE 9", "QUIT"}, .remaining = {"a"}}),
      {.name = "second_init_fails_first_stays", .mailbox = kTwo, .server = {},
       .steps = {"init", "init", "verify u p", "shutdown", "init"},
       .results = {"init 1", "init 0", "verify 1", "shutdown", "init 1"}, .wire = kCheck},
      opened({.name = "open_while_open_fails", .mailbox = kTwo, .server = {},
       .steps = {"open", "scan", "close"},
       .results = {"open 0", "next 1 #1 " + sj("こんにちは"), "next 1 #2 ", "next 0", "close"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "QUIT"}}),
      opened({.name = "close_and_shutdown_idempotent", .mailbox = kTwo, .server = {},
       .steps = {"close", "close", "shutdown", "shutdown", "open", "next", "init", "open"},
       .results = {"close", "close", "shutdown", "shutdown", "open 0", "next -1", "init 1", "open 0"},
       .wire = {"QUIT"}}),
      // The number list belongs to one scan: its end, a failed step and a
      // QUIT all make the next step start over with LIST.
      opened({.name = "scan_starts_over_after_its_end", .mailbox = kTwo, .server = {},
       .steps = {"scan", "next"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next 1 #2 ", "next 0", "next 1 #1 " + sj("こんにちは")},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "LIST", "TOP 1 0"}}),
      opened({.name = "negative_top_ends_the_scan_and_the_next_starts_over", .mailbox = kTwo,
       .server = faults({{"TOP", 2, Kind::kReply, "-ERR\r\n"}}), .steps = {"scan", "next", "close"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next -1", "next 1 #1 " + sj("こんにちは"), "close"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "LIST", "TOP 1 0", "QUIT"}}),
      {.name = "scan_starts_over_after_quit", .mailbox = kTwo, .server = {},
       .steps = {"init", "verify u p", "open", "next", "close", "open", "next"},
       .results = {"init 1", "verify 1", "open 1", "next 1 #1 " + sj("こんにちは"), "close", "open 1",
        "next 1 #1 " + sj("こんにちは")},
       .wire = concat({kCheck, kLogin, {"LIST", "TOP 1 0", "QUIT"}, kLogin, {"LIST", "TOP 1 0"}})},
      {.name = "nothing_without_a_connection", .mailbox = kTwo, .server = {},
       .steps = {"verify u p", "init", "verify u p", "next", "retr 1", "dele 1", "close"},
       .results = {"verify 0", "init 1", "verify 1", "next -1", "retr 0 ", "dele 0", "close"},
       .wire = kCheck},
      opened({.name = "negative_list", .mailbox = kTwo,
       .server = faults({{"LIST", 0, Kind::kReply, "-ERR\r\n"}}), .steps = {"next", "close"},
       .results = {"next -1", "close"}, .wire = {"LIST", "QUIT"}}),
      opened({.name = "list_lines_without_size", .mailbox = kTwo,
       .server = faults({{"LIST", 0, Kind::kReply, "+OK\r\n2\r\n\r\n 7\r\n.\r\n"}}),
       .steps = {"scan"}, .results = {"next 1 #2 ", "next 0"}, .wire = {"LIST", "TOP 2 0"}}),
      // The number is what comes before the first space, read as atoi reads
      // it: leading white space skipped, trailing non-digits ignored.
      opened({.name = "list_numbers_read_as_decimals", .mailbox = kTwo,
       .server = faults({{"LIST", 0, Kind::kReply, "+OK\r\n\t2 9\r\n1\tx 9\r\n.\r\n"}}),
       .steps = {"scan"}, .results = {"next 1 #2 ", "next 1 #1 " + sj("こんにちは"), "next 0"},
       .wire = {"LIST", "TOP 2 0", "TOP 1 0"}}),
      opened({.name = "connection_dropped_in_retr", .mailbox = kTwo,
       .server = faults({{"RETR", 0, Kind::kDrop, "", 30}}),
       .steps = {"retr 1 del", "retr 2", "close"}, .results = {"retr 0 ", "retr 0 ", "close"},
       .wire = {"RETR 1"}}),
      opened({.name = "connection_dropped_in_top", .mailbox = kTwo,
       .server = faults({{"TOP", 0, Kind::kDrop, "", 12}}), .steps = {"next", "next", "close"},
       .results = {"next -1", "next -1", "close"}, .wire = {"LIST", "TOP 1 0"}}),
      {.name = "connection_dropped_at_greeting", .mailbox = kTwo,
       .server = faults({{"", 0, Kind::kDrop, "", 0}}),
       .steps = {"init", "verify u p"}, .results = {"init 1", "verify 0"}, .wire = {}},
      opened({.name = "oversize_message_or_overlong_line_drained_not_deleted", .mailbox = big,
       .server = {}, .steps = {"retr 1 del", "retr 2 del", "retr 3", "close"},
       .results = {"retr 0 ", "retr 0 ", "retr 1 Subject: small\n\nfine\n", "close"},
       .wire = {"RETR 1", "RETR 2", "RETR 3", "QUIT"}, .remaining = {}, .max_reply_bytes = 1000}),
      opened({.name = "long_lines_kept_whole",
       .mailbox = {msg("long", {"Subject: " + long_subject, "", long_line, "end"})}, .server = {},
       .steps = {"scan", "retr 1"},
       .results = {"next 1 #1 " + long_subject, "next 0",
                   "retr 1 Subject: " + long_subject + "\n\n" + long_line + "\nend\n"},
       .wire = {"LIST", "TOP 1 0", "RETR 1"}}),
      opened({.name = "replies_split_byte_by_byte",
       .mailbox = {msg("a", {kHiraganaSubject, "", "..dots", "\x1B$B$3\x1B(B"})},
       .server = chunked(1), .steps = {"scan", "retr 1 crlf", "close"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next 0",
                   "retr 1 " + kHiraganaSubject + "\r\n\r\n..dots\r\n" + sj("こ") + "\r\n", "close"},
       .wire = {"LIST", "TOP 1 0", "RETR 1", "QUIT"}}),
      opened({.name = "replies_split_in_threes", .mailbox = kTwo, .server = chunked(3),
       .steps = {"scan", "close"},
       .results = {"next 1 #1 " + sj("こんにちは"), "next 1 #2 ", "next 0", "close"},
       .wire = {"LIST", "TOP 1 0", "TOP 2 0", "QUIT"}}),
      {.name = "stls_refused_answered_with_quit", .mailbox = kTwo, .server = {},
       .steps = {"init pop3+starttls://", "verify u p"}, .results = {"init 1", "verify 0"},
       .wire = {"STLS", "QUIT"}},
  };
  // The same pipelined batches however the server splits or delays its replies.
  const std::pair<const char*, Pop3TestServerOptions> deliveries[] = {
      {"batch_pipelined", pipelined(0)},
      {"batch_split_byte_by_byte", pipelined(1)},
      {"batch_split_in_threes", pipelined(3)},
      {"batch_split_in_sevens", pipelined(7)},
      {"batch_slow_replies_wait_in_order",
       pipelined(0, {{"TOP", 1, Kind::kLate, "", 0, 300}, {"RETR", 2, Kind::kLate, "", 0, 300}})},
  };
  for (const auto& [name, server] : deliveries) {
    cases.push_back({.name = name, .mailbox = three, .server = server, .steps = batch_steps,
                     .results = batch_results, .wire = batch_wire, .remaining = {"c"}});
  }
  return cases;
}

class Protocol : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(Protocol, Script) {
  const ProtocolCase& pc = GetParam();
  Pop3TestServer server(pc.mailbox, pc.server);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = pc.receive_ms;
  client.max_reply_bytes = pc.max_reply_bytes;
  const auto sends = std::make_shared<Lines>();
  client.connector = [sends](const platform::NetAddress& address, int timeout_ms,
                             const std::function<bool()>& aborted)
      -> std::unique_ptr<platform::TcpConnection> {
    auto inner = platform::tcp_connect(address, timeout_ms, aborted);
    if (!inner) return nullptr;
    return std::make_unique<RecordingConnection>(std::move(inner), sends);
  };
  const Lines results = run_steps(client, server.address(), pc.steps, sends);
  pop3_shutdown(client);
  server.stop();
  EXPECT_EQ(results, pc.results);
  EXPECT_EQ(server.transcript(), pc.wire);
  Lines remaining = pc.remaining;
  if (remaining.empty()) {
    for (const auto& m : pc.mailbox) remaining.push_back(m.name);
  }
  EXPECT_EQ(server.mailbox_names(), remaining);
}

INSTANTIATE_TEST_SUITE_P(Cases, Protocol, ::testing::ValuesIn(protocol_cases()),
                         [](const auto& info) { return info.param.name; });

// ----------------------------------------------------- beyond the table

TEST(Pop3, ScansAMailboxOf150Messages) {
  std::vector<Pop3TestMessage> mailbox;
  Lines expected = {"init 1", "verify 1", "open 1"};
  Lines wire = concat({kCheck, kLogin, {"LIST"}});
  for (int i = 1; i <= 150; ++i) {
    const std::string subject = "Issue " + std::to_string(i);
    mailbox.push_back(msg(std::to_string(i), {"Subject: " + subject, "", "text"}));
    expected.push_back("next 1 #" + std::to_string(i) + " " + subject);
    wire.push_back("TOP " + std::to_string(i) + " 0");
  }
  expected.push_back("next 0");
  wire.push_back("QUIT");
  Pop3TestServer server(mailbox);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = kTestReceiveMs;
  expected.push_back("close");
  EXPECT_EQ(run_steps(client, server.address(), {"init", "verify u p", "open", "scan", "close"}),
            expected);
  pop3_shutdown(client);
  server.stop();
  EXPECT_EQ(server.transcript(), wire);
}

TEST(Pop3, CredentialsCarriedUpTo79Bytes) {
  Pop3TestServer server(kTwo);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = kTestReceiveMs;
  ASSERT_EQ(pop3_init(client, server.address()), 1);
  const std::string user(100, 'u'), password(79, 'p');
  EXPECT_EQ(pop3_verify_login(client, user, password), 1);
  // A line break would smuggle a second command onto the wire.
  EXPECT_EQ(pop3_verify_login(client, "u\r\nDELE 1", "p"), 0);
  EXPECT_EQ(pop3_verify_login(client, "u", "p\nx"), 0);
  pop3_shutdown(client);
  server.stop();
  EXPECT_EQ(server.transcript(), (Lines{"USER " + std::string(79, 'u'), "PASS " + password, "QUIT"}));
}

TEST(Pop3, ReachesTheServerByName) {
  Pop3TestServer server(kTwo);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = kTestReceiveMs;
  ASSERT_EQ(pop3_init(client, "localhost:" + std::to_string(server.port())), 1);
  EXPECT_EQ(pop3_verify_login(client, "u", "p"), 1);
  pop3_shutdown(client);
  EXPECT_EQ(pop3_init(client, "127.0.0.1:0"), 0);
}

TEST(Pop3, ReceiveTimeOutFailsTheStep) {
  Pop3TestServerOptions options = faults({{"TOP", 0, Kind::kStall, "", 5}});
  Pop3TestServer server(kTwo, options);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = 300;
  ASSERT_EQ(run_steps(client, server.address(), {"init", "verify u p", "open"}),
            (Lines{"init 1", "verify 1", "open 1"}));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pop3_next_message(client), -1);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(5));
  // The half-read reply is never taken for another command's reply.
  std::string text;
  EXPECT_EQ(pop3_retrieve(client, 1, text, 0, 1), 0);
  EXPECT_EQ(pop3_next_message(client), -1);
  pop3_close(client);
  pop3_shutdown(client);
  server.stop();
  // The stalled server ignores what comes after TOP, QUIT included.
  EXPECT_EQ(server.transcript(), concat({kCheck, kLogin, {"LIST", "TOP 1 0"}}));
}

// Whether USER or PASS reached the server.
bool login_sent(const Lines& transcript) {
  for (const std::string& line : transcript) {
    if (line.starts_with("USER") || line.starts_with("PASS")) return true;
  }
  return false;
}

// After a cancelling shutdown the client holds no session and is no longer
// initialised: a batch finds nothing open, and a new pop3_init is taken (it
// refuses while initialised). The client is shut down again afterwards.
void expect_shut_down(Pop3Client& client, const std::string& address) {
  EXPECT_EQ(run_batch(client, {{"NOOP"}}), "batch -1");
  EXPECT_EQ(pop3_init(client, address), 1);
  pop3_shutdown(client);
}

// Fulfils a promise when the server meets a command beginning with `prefix`.
struct CommandSeen {
  explicit CommandSeen(std::string prefix) : prefix(std::move(prefix)) {}
  std::string prefix;
  std::promise<void> promise;
  std::once_flag once;
  void operator()(const std::string& line) {
    if (line.starts_with(prefix)) std::call_once(once, [this] { promise.set_value(); });
  }
};

// The cancel button: close and shut down from another thread while the
// worker waits for a stalled reply. The worker's step fails at once.
TEST(Pop3Cancel, UnblocksAReceive) {
  CommandSeen seen("RETR");
  Pop3TestServerOptions options = faults({{"RETR", 0, Kind::kStall, "", 10}});
  options.on_command = [&seen](const std::string& line) { seen(line); };
  Pop3TestServer server(kTwo, options);
  ASSERT_TRUE(server.start());
  Pop3Client client;  // default time-outs: only the cancel can end the wait
  ASSERT_EQ(run_steps(client, server.address(), {"init", "verify u p", "open"}),
            (Lines{"init 1", "verify 1", "open 1"}));
  std::chrono::steady_clock::time_point returned;
  int result = -2, reopen = -2;
  std::thread worker([&] {
    std::string text;
    result = pop3_retrieve(client, 1, text, 0, 1);
    returned = std::chrono::steady_clock::now();
    reopen = pop3_open(client);
    pop3_close(client);
    pop3_shutdown(client);
  });
  ASSERT_EQ(seen.promise.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto cancelled = std::chrono::steady_clock::now();
  pop3_close(client);
  pop3_shutdown(client);
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(reopen, 0);
  EXPECT_LT(returned - cancelled, std::chrono::seconds(2));
  expect_shut_down(client, server.address());
  server.stop();
  // No QUIT: the cancelled session carries out no deletion. A session opened
  // after it (the worker's reopen, before the shut-down reached it, or the
  // check above) may have been heard logging in, and nothing more.
  const Lines session = concat({kCheck, kLogin, {"RETR 1"}});
  Lines heard = server.transcript();
  while (heard.size() > session.size() && (heard.back() == "USER u" || heard.back() == "PASS p")) heard.pop_back();
  EXPECT_EQ(heard, session);
  EXPECT_EQ(server.mailbox_names(), (Lines{"a", "b"}));
}

// A server that accepts, then stalls before its greeting or in the TLS
// handshake: the cancel button fails the check at once, and a cancel is not
// reported as a TLS failure.
TEST(Pop3Cancel, UnblocksAStalledGreetingOrHandshake) {
  for (const std::string scheme : {"", "pop3s://"}) {
    SCOPED_TRACE(scheme);
    Pop3TestServer server(kTwo, faults({{"", 0, Kind::kStall, "", 0}}));
    ASSERT_TRUE(server.start());
    Pop3Client client;  // default time-outs: only the cancel can end the wait
    ASSERT_EQ(pop3_init(client, scheme + server.address()), 1);
    std::promise<int> result;
    std::thread worker([&] { result.set_value(pop3_verify_login(client, "u", "p")); });
    while (server.sessions() == 0) std::this_thread::yield();
    // Into the handshake's wait.
    if (!scheme.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pop3_close(client);
    pop3_shutdown(client);
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(future.get(), 0);
    worker.join();
    EXPECT_EQ(pop3_tls_failure(client), Pop3TlsFailure::kNone);
    pop3_shutdown(client);
    server.stop();
    EXPECT_FALSE(login_sent(server.transcript()));
  }
}

// A connect that hangs (say a server that drops SYNs) is cut short as well.
TEST(Pop3Cancel, UnblocksAConnect) {
  Pop3Client client;
  std::promise<void> entered;
  client.connector = [&entered](const platform::NetAddress&, int timeout_ms,
                                const std::function<bool()>& aborted)
      -> std::unique_ptr<platform::TcpConnection> {
    EXPECT_EQ(timeout_ms, kPop3ConnectTimeoutMs);
    entered.set_value();
    while (!aborted()) std::this_thread::yield();
    return nullptr;
  };
  ASSERT_EQ(pop3_init(client, "127.0.0.1:1"), 1);
  std::promise<int> result;
  std::thread worker([&] { result.set_value(pop3_verify_login(client, "u", "p")); });
  entered.get_future().wait();
  pop3_shutdown(client);
  auto future = result.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(future.get(), 0);
  worker.join();
  expect_shut_down(client, "127.0.0.1:1");
}

// Between the worker's steps a close from another thread is an ordinary one.
TEST(Pop3Cancel, CloseBetweenStepsQuits) {
  Pop3TestServer server(kTwo);
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = kTestReceiveMs;
  ASSERT_EQ(run_steps(client, server.address(), {"init", "verify u p", "open", "retr 2 del"}),
            (Lines{"init 1", "verify 1", "open 1", "retr 1 From: b@example.jp\n\nno subject here\n"}));
  std::thread other([&] {
    pop3_close(client);
    pop3_shutdown(client);
  });
  other.join();
  EXPECT_EQ(pop3_next_message(client), -1);
  server.stop();
  EXPECT_EQ(server.transcript(), concat({kCheck, kLogin, {"RETR 2", "DELE 2", "QUIT"}}));
  EXPECT_EQ(server.mailbox_names(), (Lines{"a"}));
}

// ------------------------------------------------------- TLS, refused

// The scripted server speaks no TLS, so a client that asks for it meets a
// peer that answers its handshake with clear text, drops it or stalls in it,
// or refuses STLS. Whatever happens, neither USER nor PASS reaches the server.

TEST(Pop3Tls, NoVerifiedSessionNoLogin) {
  const struct {
    std::string what;
    std::string scheme;
    std::vector<Pop3Fault> faults;
    Pop3TlsFailure failure;
  } cases[] = {
      {"plain server on a pop3s port", "pop3s://", {}, Pop3TlsFailure::kHandshakeFailed},
      {"dropped at once", "pop3s://", {{"", 0, Kind::kDrop, "", 0}},
       Pop3TlsFailure::kHandshakeFailed},
      {"STLS refused", "pop3+starttls://", {}, Pop3TlsFailure::kStlsRefused},
      {"STLS accepted, then clear text", "pop3+starttls://",
       {{"STLS", 0, Kind::kReply, "+OK begin TLS\r\n"}}, Pop3TlsFailure::kHandshakeFailed},
  };
  for (const auto& c : cases) {
    Pop3TestServer server(kTwo, faults(c.faults));
    ASSERT_TRUE(server.start());
    Pop3Client client;
    // A server that reads the client's hello as the start of a command
    // line waits as long as the client does; the time-out ends it.
    client.receive_timeout_ms = 1000;
    ASSERT_EQ(pop3_init(client, c.scheme + server.address()), 1) << c.what;
    EXPECT_EQ(pop3_verify_login(client, "u", "p"), 0) << c.what;
    EXPECT_EQ(pop3_tls_failure(client), c.failure) << c.what;
    EXPECT_EQ(pop3_open(client), 0) << c.what;
    pop3_shutdown(client);
    server.stop();
    EXPECT_FALSE(login_sent(server.transcript())) << c.what;
  }
}

TEST(Pop3Tls, HandshakeStallTimesOut) {
  Pop3TestServer server(kTwo, faults({{"", 0, Kind::kStall, "", 0}}));
  ASSERT_TRUE(server.start());
  Pop3Client client;
  client.receive_timeout_ms = 300;
  ASSERT_EQ(pop3_init(client, "pop3s://" + server.address()), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pop3_verify_login(client, "u", "p"), 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(pop3_tls_failure(client), Pop3TlsFailure::kHandshakeFailed);
  pop3_shutdown(client);
  server.stop();
  EXPECT_FALSE(login_sent(server.transcript()));
}

}  // namespace
}  // namespace larkspur
