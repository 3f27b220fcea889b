#include "retrieval/pop3_client.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "retrieval/decode.h"

namespace larkspur {
namespace {

using platform::TcpConnection;
using ConnectionPtr = std::shared_ptr<TcpConnection>;

// One socket receive serves many lines; the reader splits them.
constexpr int kReceiveChunk = 4096;
constexpr std::string_view kSubjectField = "Subject: ";

bool parse_port(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + (ch - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// The decimal value of a message number from LIST, read the way atoi reads
// it (white space skipped, sign, then digits, anything else ends it), without
// overflow.
int decimal_value(std::string_view token) {
  std::size_t at = 0;
  constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
  while (at < token.size() && kWhiteSpace.find(token[at]) != std::string_view::npos) ++at;
  bool negative = false;
  if (at < token.size() && (token[at] == '+' || token[at] == '-')) {
    negative = token[at] == '-';
    ++at;
  }
  long long value = 0;
  for (; at < token.size() && token[at] >= '0' && token[at] <= '9'; ++at) {
    value = std::min<long long>(value * 10 + (token[at] - '0'), INT_MAX);
  }
  return static_cast<int>(negative ? -value : value);
}

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Runs a socket-library clean-up that a cancelling pop3_shutdown had to leave
// to the thread in the operation. Call with state_mutex held.
void run_pending_cleanup(Pop3Client& c) {
  if (c.cleanup_pending) {
    c.cleanup_pending = false;
    platform::net_cleanup();
  }
}

// One operation of the worker from start to end. It holds operation_mutex
// throughout, so operations never overlap and the worker's fields are only
// ever touched by one thread at a time; it notes the cancel count at the
// start, so that a cancel during the operation is seen; and at its end it
// forgets the active connection and carries out a pending clean-up.
class Operation {
 public:
  explicit Operation(Pop3Client& c) : Operation(c, std::unique_lock(c.operation_mutex)) {}
  Operation(Pop3Client& c, std::unique_lock<std::mutex> lock) : c_(c), lock_(std::move(lock)) {
    std::lock_guard state(c_.state_mutex);
    run_pending_cleanup(c_);
    cancel_count_ = c_.cancel_count;
  }
  ~Operation() {
    std::lock_guard state(c_.state_mutex);
    c_.active.reset();
    run_pending_cleanup(c_);
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  unsigned cancel_count() const { return cancel_count_; }

  // The open connection, made active for this operation; null when none is
  // open or it is out of step with the server.
  ConnectionPtr open_connection() {
    std::lock_guard state(c_.state_mutex);
    if (!c_.connection || c_.connection_broken) return nullptr;
    c_.active = c_.connection;
    return c_.connection;
  }

 private:
  Pop3Client& c_;
  std::unique_lock<std::mutex> lock_;
  unsigned cancel_count_ = 0;
};

// Aborts whatever connection the client has, from any thread: a blocked
// connect or receive of the worker fails at once. The open connection is
// forgotten (the worker's operation keeps the object alive until it returns).
void cancel(Pop3Client& c, bool shutdown) {
  std::lock_guard state(c.state_mutex);
  ++c.cancel_count;
  if (c.active) c.active->abort();
  if (c.connection) {
    c.connection->abort();
    c.connection.reset();
  }
  if (shutdown && c.initialised) {
    c.initialised = false;
    c.verified = false;
    c.cleanup_pending = true;
  }
}

bool is_initialised(const Pop3Client& c) {
  std::lock_guard state(c.state_mutex);
  return c.initialised;
}

// ------------------------------------------------------------ wire helpers

// Sends one command line; the CR LF goes with it. A failed send leaves the
// connection useless: it is marked out of step.
bool send_line(Pop3Client& c, TcpConnection& conn, std::string_view command) {
  std::string line(command);
  line += "\r\n";
  if (conn.send_all(line)) return true;
  c.connection_broken = true;
  return false;
}

// The next line from the server, or nullopt when the connection is closed,
// fails or times out (the connection is then out of step: a reply may be
// half read).
std::optional<std::string> recv_line(Pop3Client& c, TcpConnection& conn) {
  for (;;) {
    if (auto line = c.reader.next_line()) return line;
    char chunk[kReceiveChunk];
    const int n = conn.receive(chunk, kReceiveChunk, c.receive_timeout_ms);
    if (n <= 0) {
      c.connection_broken = true;
      return std::nullopt;
    }
    c.reader.feed(std::string_view(chunk, static_cast<std::size_t>(n)));
  }
}

// Sends a command and reads its one-line reply: true when the reply is there
// and not negative.
bool command_ok(Pop3Client& c, TcpConnection& conn, std::string_view command) {
  if (!send_line(c, conn, command)) return false;
  const auto reply = recv_line(c, conn);
  return reply && !pop3_reply_negative(*reply);
}

enum class Multiline { kComplete, kTooLong, kLost };

// Reads the lines of a multi-line reply up to its single-dot line and hands
// each (as received, still dot-stuffed) to `on_line`. A reply bigger than
// max_reply_bytes is read to its end all the same, so that the connection
// stays in step, but `on_line` sees no more of it.
template <typename OnLine>
Multiline read_multiline(Pop3Client& c, TcpConnection& conn, OnLine on_line) {
  std::size_t bytes = 0;
  bool too_long = false;
  for (;;) {
    const auto line = recv_line(c, conn);
    if (!line) return Multiline::kLost;
    if (*line == ".") return too_long ? Multiline::kTooLong : Multiline::kComplete;
    if (too_long) continue;
    bytes += line->size() + 2;
    if (bytes > c.max_reply_bytes || c.reader.overlong()) {
      too_long = true;
      continue;
    }
    on_line(*line);
  }
}

// Sends QUIT and reads its reply: true when the reply is there and positive.
// Callers that only end a connection ignore the result.
bool quit(Pop3Client& c, TcpConnection& conn) {
  bool answered = false;
  if (send_line(c, conn, "QUIT")) {
    const auto reply = recv_line(c, conn);
    answered = reply && !pop3_reply_negative(*reply);
  }
  c.list_fetched = false;
  return answered;
}

// Connects to the server, with the connect cut short by a cancel. The new
// connection becomes the active one, or it is dropped when a cancel came
// while connecting.
ConnectionPtr connect_server(Pop3Client& c, const Operation& op) {
  const unsigned start = op.cancel_count();
  const std::function<bool()> aborted = [&c, start] {
    std::lock_guard state(c.state_mutex);
    return c.cancel_count != start;
  };
  ConnectionPtr conn;
  if (c.connector) {
    conn = c.connector(c.server_address, c.connect_timeout_ms, aborted);
  } else {
    conn = platform::tcp_connect(c.server_address, c.connect_timeout_ms, aborted);
  }
  if (!conn) return nullptr;
  std::lock_guard state(c.state_mutex);
  if (c.cancel_count != start) return nullptr;
  c.active = conn;
  c.reader = Pop3LineReader(c.max_reply_bytes);
  c.connection_broken = false;
  return conn;
}

// The login dialogue: greeting (not examined), USER, PASS. A negative reply
// is answered with QUIT; a lost connection is just dropped.
ConnectionPtr connect_login(Pop3Client& c, const Operation& op, std::string_view user,
                            std::string_view password) {
  ConnectionPtr conn = connect_server(c, op);
  if (!conn) return nullptr;
  if (!recv_line(c, *conn)) return nullptr;
  for (const std::string& command : {"USER " + std::string(user), "PASS " + std::string(password)}) {
    if (!send_line(c, *conn, command)) return nullptr;
    const auto reply = recv_line(c, *conn);
    if (!reply) return nullptr;
    if (pop3_reply_negative(*reply)) {
      quit(c, *conn);
      return nullptr;
    }
  }
  return conn;
}

// Sends LIST and fills the number list. False on any failure.
bool fetch_number_list(Pop3Client& c, TcpConnection& conn) {
  if (!send_line(c, conn, "LIST")) return false;
  const auto status = recv_line(c, conn);
  if (!status || pop3_reply_negative(*status)) return false;
  c.number_list.clear();
  const Multiline result = read_multiline(c, conn, [&c](std::string_view line) {
    // The characters before the first space are the message number; a line
    // that gives none is skipped.
    const std::string_view number = line.substr(0, line.find(' '));
    if (!number.empty()) c.number_list.emplace_back(number);
  });
  if (result != Multiline::kComplete) return false;
  c.number_cursor = 0;
  c.list_fetched = true;
  return true;
}

}  // namespace

// ------------------------------------------------------------ server field

std::optional<Pop3ServerField> parse_server_field(std::string_view field) {
  Pop3ServerField result;
  if (field.starts_with('[')) {
    const std::size_t close = field.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    result.host = field.substr(1, close - 1);
    const std::string_view rest = field.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || !parse_port(rest.substr(1), result.port))) {
      return std::nullopt;
    }
  } else {
    const auto colons = std::count(field.begin(), field.end(), ':');
    if (colons == 1) {
      const std::size_t colon = field.find(':');
      result.host = field.substr(0, colon);
      if (!parse_port(field.substr(colon + 1), result.port)) return std::nullopt;
    } else {
      result.host = field;  // a host name, or an IPv6 address without port
    }
  }
  if (result.host.empty()) return std::nullopt;
  return result;
}

// ---------------------------------------------------------- reply reading

void Pop3LineReader::feed(std::string_view bytes) {
  // Drop the delivered prefix now and then, not on every line.
  if (consumed_ > 0 && consumed_ >= pending_.size() / 2) {
    pending_.erase(0, consumed_);
    consumed_ = 0;
  }
  pending_.append(bytes);
}

std::optional<std::string> Pop3LineReader::next_line() {
  const std::string_view rest = std::string_view(pending_).substr(consumed_);
  // A CR at the end of the bytes scanned before may meet its LF only now.
  const std::size_t from = scanned_ > 0 ? scanned_ - 1 : 0;
  const std::size_t end = rest.find("\r\n", from);
  if (end != std::string_view::npos) {
    std::string line;
    if (dropping_) {
      line = std::move(head_);
      head_.clear();
    } else if (end > max_line_bytes_) {  // arrived whole, but too long all the same
      line = rest.substr(0, max_line_bytes_);
      dropping_ = true;
    } else {
      line = rest.substr(0, end);
    }
    last_overlong_ = dropping_;
    dropping_ = false;
    consumed_ += end + 2;
    scanned_ = 0;
    return line;
  }
  scanned_ = rest.size();
  // Past the bound (plus one byte that may be the CR of the line's end),
  // keep the head of the line once and drop what follows, except the last
  // byte.
  if (rest.size() > max_line_bytes_ + 1) {
    if (!dropping_) {
      head_ = rest.substr(0, max_line_bytes_);
      dropping_ = true;
    }
    consumed_ = pending_.size() - 1;
    scanned_ = 1;
  }
  return std::nullopt;
}

void Pop3LineReader::clear() {
  pending_.clear();
  head_.clear();
  consumed_ = 0;
  scanned_ = 0;
  dropping_ = false;
  last_overlong_ = false;
}

bool pop3_reply_negative(std::string_view line) { return line.starts_with('-'); }

void SubjectExtractor::header_line(std::string_view line) {
  const auto convert = [](std::string_view text) {
    return jis_to_sjis_subject(decode_encoded_words(text));
  };
  if (in_subject_) {
    // The folding test counts the blanks among the first two characters,
    // wherever they stand: a count above zero makes the line a continuation,
    // and that many characters are cut from its front before it is joined on
    // with nothing in between. (A well-formed header line never has a blank
    // second character behind a non-blank first one, so on real mail this is
    // "drop one or two leading blanks".)
    const auto blank = [&line](std::size_t i) {
      return i < line.size() && (line[i] == ' ' || line[i] == '\t');
    };
    const std::size_t skip = (blank(0) ? 1 : 0) + (blank(1) ? 1 : 0);
    if (skip > 0) {
      subject_ += convert(line.substr(skip));
    } else {
      in_subject_ = false;
    }
  }
  if (line.starts_with(kSubjectField)) {
    subject_ = convert(line.substr(kSubjectField.size()));
    in_subject_ = true;
  }
}

void append_message_line(std::string& text, std::string_view line, bool crlf) {
  if (line.starts_with("..")) line.remove_prefix(1);
  text += jis_to_sjis_line(line);
  text += crlf ? "\r\n" : "\n";
}

// ------------------------------------------------------------------ client

int pop3_init(Pop3Client& c, std::string_view server) {
  Operation op(c);
  if (is_initialised(c)) return 0;
  const auto field = parse_server_field(server);
  if (!field) return 0;
  if (!platform::net_startup()) return 0;
  auto address = platform::resolve(field->host, field->port);
  std::lock_guard state(c.state_mutex);
  if (!address || c.cancel_count != op.cancel_count()) {
    platform::net_cleanup();
    return 0;
  }
  c.server_address = std::move(*address);
  c.initialised = true;
  return 1;
}

int pop3_verify_login(Pop3Client& c, std::string_view user, std::string_view password) {
  Operation op(c);
  if (!is_initialised(c)) return 0;
  user = user.substr(0, kMaxCredentialBytes);
  password = password.substr(0, kMaxCredentialBytes);
  // A line break would end the command early and smuggle in another one.
  if (has_line_break(user) || has_line_break(password)) return 0;
  // A connection open meanwhile keeps its unread bytes and its state.
  struct KeepReader {
    Pop3Client& c;
    Pop3LineReader reader = std::move(c.reader);
    bool broken = c.connection_broken;
    bool list_fetched = c.list_fetched;
    ~KeepReader() {
      c.reader = std::move(reader);
      c.connection_broken = broken;
      c.list_fetched = list_fetched;
    }
  } keep{c};
  const ConnectionPtr conn = connect_login(c, op, user, password);
  if (!conn) return 0;
  quit(c, *conn);
  std::lock_guard state(c.state_mutex);
  if (c.cancel_count != op.cancel_count() || !c.initialised) return 0;
  c.user = user;
  c.password = password;
  c.verified = true;
  return 1;
}

int pop3_open(Pop3Client& c) {
  Operation op(c);
  {
    std::lock_guard state(c.state_mutex);
    if (!c.initialised || !c.verified || c.connection) return 0;
  }
  const ConnectionPtr conn = connect_login(c, op, c.user, c.password);
  if (!conn) return 0;
  std::lock_guard state(c.state_mutex);
  if (c.cancel_count != op.cancel_count() || !c.initialised) return 0;
  c.connection = conn;
  c.list_fetched = false;
  return 1;
}

int pop3_next_message(Pop3Client& c) {
  Operation op(c);
  const ConnectionPtr conn = op.open_connection();
  if (!conn) {
    c.list_fetched = false;
    return -1;
  }
  if (!c.list_fetched && !fetch_number_list(c, *conn)) return -1;
  if (c.number_cursor >= c.number_list.size()) {
    c.list_fetched = false;
    return 0;
  }
  const int number = decimal_value(c.number_list[c.number_cursor]);
  c.current_subject.clear();
  SubjectExtractor subject;
  const bool ok =
      command_ok(c, *conn, "TOP " + std::to_string(number) + " 0") &&
      read_multiline(c, *conn, [&subject](std::string_view line) { subject.header_line(line); }) ==
          Multiline::kComplete;
  if (!ok) {
    c.list_fetched = false;
    return -1;
  }
  c.current_number = number;
  c.current_subject = subject.subject();
  ++c.number_cursor;
  return 1;
}

int pop3_current_number(const Pop3Client& c) {
  std::lock_guard op(c.operation_mutex);
  return c.current_number;
}

std::string pop3_current_subject(const Pop3Client& c) {
  std::lock_guard op(c.operation_mutex);
  return c.current_subject;
}

int pop3_retrieve(Pop3Client& c, int number, std::string& text, int crlf, int delete_flag) {
  Operation op(c);
  const ConnectionPtr conn = op.open_connection();
  if (!conn) return 0;
  if (!command_ok(c, *conn, "RETR " + std::to_string(number))) return 0;
  const std::size_t start = text.size();
  const Multiline result = read_multiline(c, *conn, [&text, crlf](std::string_view line) {
    append_message_line(text, line, crlf != 0);
  });
  if (result != Multiline::kComplete) {
    // A message cut short or too big is not handed on, and not deleted.
    text.resize(start);
    return 0;
  }
  if (delete_flag == 0) return 1;
  return command_ok(c, *conn, "DELE " + std::to_string(number)) ? 1 : 0;
}

int pop3_delete(Pop3Client& c, int number) {
  Operation op(c);
  const ConnectionPtr conn = op.open_connection();
  if (!conn) return 0;
  // A DELE that went out without an answer may have been carried out: the
  // caller must then treat the message as deleted at QUIT.
  if (!send_line(c, *conn, "DELE " + std::to_string(number))) return kDeleteUnanswered;
  const auto reply = recv_line(c, *conn);
  if (!reply) return kDeleteUnanswered;
  return pop3_reply_negative(*reply) ? 0 : 1;
}

int pop3_close(Pop3Client& c) {
  std::unique_lock lock(c.operation_mutex, std::try_to_lock);
  if (!lock.owns_lock()) {  // an operation is in progress on another thread
    cancel(c, false);
    return 0;
  }
  Operation op(c, std::move(lock));
  ConnectionPtr conn;
  {
    std::lock_guard state(c.state_mutex);
    if (!c.initialised || !c.verified || !c.connection) return 0;
    conn = c.connection;
    c.active = conn;
  }
  // QUIT is sent even when a reply was left half read: the server still
  // carries out the deletions it accepted, whose logs are kept. On such a
  // connection the line read next may be a late reply to an earlier command,
  // so it confirms nothing.
  const bool in_step = !c.connection_broken;
  const bool answered = quit(c, *conn);
  std::lock_guard state(c.state_mutex);
  c.connection.reset();
  return in_step && answered ? 1 : 0;
}

void pop3_shutdown(Pop3Client& c) {
  std::unique_lock lock(c.operation_mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    cancel(c, true);
    // If the operation ended meanwhile, its clean-up may be ours to run.
    lock = std::unique_lock(c.operation_mutex, std::try_to_lock);
    if (lock.owns_lock()) Operation op(c, std::move(lock));
    return;
  }
  Operation op(c, std::move(lock));
  std::lock_guard state(c.state_mutex);
  if (!c.initialised) return;
  c.connection.reset();  // dropped without QUIT
  c.initialised = false;
  c.verified = false;
  c.list_fetched = false;
  platform::net_cleanup();
}

}  // namespace larkspur
