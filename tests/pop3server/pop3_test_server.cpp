#include "tests/pop3server/pop3_test_server.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <set>

namespace larkspur::testing {
namespace {

// Long enough never to end a session that a test is still driving; stop()
// aborts the connection to end it earlier.
constexpr int kSessionReceiveMs = 120'000;
constexpr int kAcceptSliceMs = 100;

std::string upper(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

std::vector<std::string> split_lines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = data.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(data.substr(at));  // a last line without CR LF
      break;
    }
    lines.push_back(data.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string stuffed(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '.') out += '.';
    out += line;
    out += "\r\n";
  }
  out += ".\r\n";
  return out;
}

// A message number argument: 1-based, within the mailbox.
int message_index(const std::string& argument, std::size_t count) {
  if (argument.empty() || argument.size() > 9) return -1;
  for (char ch : argument) {
    if (ch < '0' || ch > '9') return -1;
  }
  const int number = std::stoi(argument);
  if (number < 1 || static_cast<std::size_t>(number) > count) return -1;
  return number - 1;
}

}  // namespace

struct Pop3TestServer::Session {
  bool user_given = false;
  bool logged_in = false;
  std::string user;
  std::set<int> deleted;  // indexes marked by DELE
};

struct Pop3TestServer::Answer {
  std::string text;
  bool quit = false;
  int mark = -1;  // DELE: the index to mark once the answer has gone out
};

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

Pop3TestServer::Pop3TestServer(std::vector<Pop3TestMessage> mailbox, Pop3TestServerOptions options)
    : mailbox_(std::move(mailbox)), options_(std::move(options)) {}

Pop3TestServer::~Pop3TestServer() { stop(); }

bool Pop3TestServer::start() {
  net_started_ = platform::net_startup();
  listener_ = platform::tcp_listen(options_.host, options_.port);
  if (!listener_) return false;
  port_ = listener_->port();
  thread_ = std::thread([this] { run(); });
  return true;
}

void Pop3TestServer::stop() {
  stopping_ = true;
  {
    std::lock_guard lock(mutex_);
    if (current_) current_->abort();
  }
  if (thread_.joinable()) thread_.join();
  if (listener_) listener_->close();
  listener_.reset();
  if (net_started_) platform::net_cleanup();
  net_started_ = false;
}

std::string Pop3TestServer::address() const {
  return options_.host + ":" + std::to_string(port_);
}

std::vector<std::string> Pop3TestServer::transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

int Pop3TestServer::sessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

void Pop3TestServer::set_mailbox(std::vector<Pop3TestMessage> mailbox) {
  std::lock_guard lock(mutex_);
  mailbox_ = std::move(mailbox);
}

std::vector<std::string> Pop3TestServer::mailbox_names() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& message : mailbox_) names.push_back(message.name);
  return names;
}

void Pop3TestServer::run() {
  while (!stopping_) {
    std::shared_ptr<platform::TcpConnection> conn = listener_->accept(kAcceptSliceMs);
    if (!conn) continue;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      ++sessions_;
      current_ = conn;
    }
    serve(conn);
    std::lock_guard lock(mutex_);
    current_.reset();
    idle_.notify_all();
  }
}

bool Pop3TestServer::wait_idle(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !current_; });
}

bool Pop3TestServer::send(platform::TcpConnection& conn, std::string_view bytes) {
  if (options_.chunk_bytes == 0) return conn.send_all(bytes);
  while (!bytes.empty()) {
    const std::size_t n = std::min(options_.chunk_bytes, bytes.size());
    if (!conn.send_all(bytes.substr(0, n))) return false;
    bytes.remove_prefix(n);
    if (!bytes.empty()) platform::sleep_ms(options_.chunk_pause_ms);
  }
  return true;
}

Pop3TestServer::Sent Pop3TestServer::reply(platform::TcpConnection& conn, const std::string& command,
                           const std::string& text) {
  int seen = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(command_counts_.begin(), command_counts_.end(),
                           [&](const auto& entry) { return entry.first == command; });
    if (it == command_counts_.end()) it = command_counts_.insert(it, {command, 0});
    seen = ++it->second;
  }
  for (const Pop3Fault& fault : options_.faults) {
    if (fault.command != command || (fault.occurrence != 0 && fault.occurrence != seen)) continue;
    switch (fault.kind) {
      case Pop3Fault::Kind::kReply:
        return send(conn, fault.reply) ? Sent::kFaultReply : Sent::kEnd;
      case Pop3Fault::Kind::kDrop:
        send(conn, std::string_view(text).substr(0, fault.keep_bytes));
        return Sent::kEnd;
      case Pop3Fault::Kind::kLate:
        platform::sleep_ms(fault.delay_ms);
        return send(conn, text) ? Sent::kAnswer : Sent::kEnd;
      case Pop3Fault::Kind::kStall: {
        send(conn, std::string_view(text).substr(0, fault.keep_bytes));
        // Wait for the client to give up (or for stop()); whatever it sends
        // meanwhile is ignored.
        char sink[256];
        while (!stopping_ && conn.receive(sink, sizeof sink, kSessionReceiveMs) > 0) {
        }
        return Sent::kEnd;
      }
    }
  }
  return send(conn, text) ? Sent::kAnswer : Sent::kEnd;
}

Pop3TestServer::Answer Pop3TestServer::answer(const std::string& verb, const std::string& argument,
                                              Session& session) {
  std::lock_guard lock(mutex_);
  const std::size_t count = mailbox_.size();
  if (verb == "QUIT") return {"+OK bye\r\n", true};
  if (verb == "NOOP") return {"+OK\r\n"};
  if (verb == "CAPA" && !options_.capabilities.empty()) {
    std::string listing = "+OK capability list follows\r\n";
    for (const std::string& capability : options_.capabilities) listing += capability + "\r\n";
    return {listing + ".\r\n"};
  }
  if (verb == "USER") {
    if (session.logged_in) return {"-ERR already logged in\r\n"};
    session.user_given = true;
    session.user = argument;
    return {"+OK\r\n"};
  }
  if (verb == "PASS") {
    if (session.logged_in || !session.user_given) return {"-ERR USER first\r\n"};
    session.user_given = false;
    if (!options_.user.empty() && (session.user != options_.user || argument != options_.password)) {
      return {"-ERR invalid user name or password\r\n"};
    }
    session.logged_in = true;
    return {"+OK logged in\r\n"};
  }
  if (!session.logged_in) return {"-ERR not logged in\r\n"};

  if (verb == "STAT" || verb == "LIST" || verb == "UIDL") {
    std::size_t messages = 0, octets = 0;
    std::string listing;
    for (std::size_t i = 0; i < count; ++i) {
      if (session.deleted.count(static_cast<int>(i))) continue;
      ++messages;
      octets += mailbox_[i].data.size();
      listing += std::to_string(i + 1) + " " +
                 (verb == "UIDL" ? mailbox_[i].name : std::to_string(mailbox_[i].data.size())) +
                 "\r\n";
    }
    if (verb == "STAT") {
      return {"+OK " + std::to_string(messages) + " " + std::to_string(octets) + "\r\n"};
    }
    if (!argument.empty()) {
      const int index = message_index(argument, count);
      if (index < 0 || session.deleted.count(index)) return {"-ERR no such message\r\n"};
      return {"+OK " + std::to_string(index + 1) + " " +
              (verb == "UIDL" ? mailbox_[static_cast<std::size_t>(index)].name
                              : std::to_string(mailbox_[static_cast<std::size_t>(index)].data.size())) +
              "\r\n"};
    }
    return {"+OK " + std::to_string(messages) + " messages\r\n" + listing + ".\r\n"};
  }
  if (verb == "RSET") {
    session.deleted.clear();
    return {"+OK\r\n"};
  }

  const std::string first = argument.substr(0, argument.find(' '));
  const int index = message_index(first, count);
  if (index < 0 || session.deleted.count(index)) return {"-ERR no such message\r\n"};
  const Pop3TestMessage& message = mailbox_[static_cast<std::size_t>(index)];
  if (verb == "DELE") return {"+OK marked\r\n", false, index};
  const std::vector<std::string> lines = split_lines(message.data);
  if (verb == "RETR") {
    return {"+OK " + std::to_string(message.data.size()) + " octets\r\n" + stuffed(lines)};
  }
  if (verb == "TOP") {
    const std::size_t space = argument.find(' ');
    if (space == std::string::npos) return {"-ERR TOP needs a line count\r\n"};
    const int body_lines = std::max(0, std::atoi(argument.c_str() + space + 1));
    std::vector<std::string> top;
    std::size_t i = 0;
    bool blank_seen = false;
    while (i < lines.size() && !blank_seen) {
      blank_seen = lines[i].empty();  // the blank line ending the header goes too
      top.push_back(lines[i++]);
    }
    for (int k = 0; blank_seen && k < body_lines && i < lines.size(); ++k) top.push_back(lines[i++]);
    return {"+OK\r\n" + stuffed(top)};
  }
  return {"-ERR unknown command\r\n"};
}

void Pop3TestServer::serve(const std::shared_ptr<platform::TcpConnection>& conn) {
  Session session;
  if (reply(*conn, "", "+OK larkspur test server ready\r\n") == Sent::kEnd) return;
  std::string pending;
  for (;;) {
    std::size_t end;
    while ((end = pending.find("\r\n")) == std::string::npos) {
      char chunk[4096];
      const int n = conn->receive(chunk, sizeof chunk, kSessionReceiveMs);
      if (n <= 0 || stopping_) return;  // gone without QUIT: nothing deleted
      pending.append(chunk, static_cast<std::size_t>(n));
    }
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 2);
    {
      std::lock_guard lock(mutex_);
      transcript_.push_back(line);
    }
    if (options_.on_command) options_.on_command(line);
    const std::size_t space = line.find(' ');
    const std::string verb = upper(line.substr(0, space));
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    const Answer result = answer(verb, argument, session);
    if (result.quit) {
      // Deletions are carried out before the QUIT reply goes out, as a
      // server does in its update state.
      std::vector<Pop3TestMessage> removed;
      {
        std::lock_guard lock(mutex_);
        std::vector<Pop3TestMessage> kept;
        for (std::size_t i = 0; i < mailbox_.size(); ++i) {
          (session.deleted.count(static_cast<int>(i)) ? removed : kept).push_back(mailbox_[i]);
        }
        mailbox_ = std::move(kept);
      }
      if (options_.on_delete) {
        for (const auto& message : removed) options_.on_delete(message);
      }
      reply(*conn, verb, result.text);
      return;
    }
    const Sent sent = reply(*conn, verb, result.text);
    if (sent == Sent::kEnd) return;
    if (sent == Sent::kAnswer && result.mark >= 0) session.deleted.insert(result.mark);
  }
}

}  // namespace larkspur::testing
