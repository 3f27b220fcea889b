#include "retrieval/pop3_client.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "retrieval/decode.h"

namespace larkspur {
namespace {

using platform::TcpConnection;
using ConnectionPtr = std::shared_ptr<TcpConnection>;
using SessionPtr = std::shared_ptr<Pop3Session>;

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

// A message number of a UIDL or LIST line: digits only, from 1 up; 0 for
// anything else (such a line names no message).
int message_number(std::string_view token) {
  if (token.empty() || token.size() > 9 ||
      token.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  return decimal_value(token);
}

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The one place the lifecycle changes; the open session is set exactly
// while the lifecycle is open. Call with state_mutex held.
void change_lifecycle(Pop3Client& c, Pop3Lifecycle next, SessionPtr open = nullptr) {
  c.lifecycle = next;
  c.open_session = next == Pop3Lifecycle::kOpen ? std::move(open) : nullptr;
}

bool is_initialised(const Pop3Client& c) {
  std::lock_guard state(c.state_mutex);
  return c.lifecycle != Pop3Lifecycle::kUninitialised;
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
// throughout, so operations never overlap and the worker's fields (and the
// sessions) are only ever touched by one thread at a time; it notes the
// cancel count at the start, so that a cancel during the operation is seen;
// and at its end it forgets the active connection and carries out a pending
// clean-up.
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
  // Whether a cancel came since the operation started. Call with state_mutex held.
  bool cancelled_locked() const { return c_.cancel_count != cancel_count_; }
  bool cancelled() const {
    std::lock_guard state(c_.state_mutex);
    return cancelled_locked();
  }

  // Makes `conn` the connection a cancel aborts; false (and nothing changed)
  // when a cancel came already.
  bool make_active(ConnectionPtr conn) {
    std::lock_guard state(c_.state_mutex);
    if (cancelled_locked()) return false;
    c_.active = std::move(conn);
    return true;
  }

  // The open session, its connection made active for this operation; null
  // when none is open or it is out of step with the server.
  SessionPtr open_session() {
    std::lock_guard state(c_.state_mutex);
    if (c_.lifecycle != Pop3Lifecycle::kOpen || !c_.open_session || c_.open_session->broken) {
      return nullptr;
    }
    c_.active = c_.open_session->connection;
    return c_.open_session;
  }

 private:
  Pop3Client& c_;
  std::unique_lock<std::mutex> lock_;
  unsigned cancel_count_ = 0;
};

// Aborts whatever connection the client has, from any thread: a blocked
// connect, handshake or receive of the worker fails at once. The open session
// is forgotten (the worker's operation keeps it alive until it returns).
void cancel(Pop3Client& c, bool shutdown) {
  std::lock_guard state(c.state_mutex);
  ++c.cancel_count;
  if (c.active) c.active->abort();
  if (c.open_session) c.open_session->connection->abort();
  if (shutdown && c.lifecycle != Pop3Lifecycle::kUninitialised) {
    change_lifecycle(c, Pop3Lifecycle::kUninitialised);
    c.cleanup_pending = true;
  } else if (c.lifecycle == Pop3Lifecycle::kOpen) {
    change_lifecycle(c, Pop3Lifecycle::kVerified);
  }
}

// ------------------------------------------------------------ wire helpers

// Sends one command line; the CR LF goes with it. A failed send leaves the
// session useless: it is marked out of step.
bool send_line(Pop3Session& s, std::string_view command) {
  std::string line(command);
  line += "\r\n";
  if (s.connection->send_all(line)) return true;
  s.broken = true;
  return false;
}

// The next line from the server, or nullopt when the connection is closed,
// fails or times out (the session is then out of step: a reply may be half
// read).
std::optional<std::string> recv_line(const Pop3Client& c, Pop3Session& s) {
  for (;;) {
    if (auto line = s.reader.next_line()) return line;
    char chunk[kReceiveChunk];
    const int n = s.connection->receive(chunk, kReceiveChunk, c.receive_timeout_ms);
    if (n <= 0) {
      s.broken = true;
      return std::nullopt;
    }
    s.reader.feed(std::string_view(chunk, static_cast<std::size_t>(n)));
  }
}

// Sends a command and reads its one-line reply: true when the reply is there
// and not negative.
bool command_ok(const Pop3Client& c, Pop3Session& s, std::string_view command) {
  if (!send_line(s, command)) return false;
  const auto reply = recv_line(c, s);
  return reply && !pop3_reply_negative(*reply);
}

enum class Multiline { kComplete, kTooLong, kLost };

// Reads the lines of a multi-line reply up to its single-dot line and hands
// each (as received, still dot-stuffed) to `on_line`. A reply bigger than
// max_reply_bytes is read to its end all the same, so that the session
// stays in step, but `on_line` sees no more of it.
template <typename OnLine>
Multiline read_multiline(const Pop3Client& c, Pop3Session& s, OnLine on_line) {
  std::size_t bytes = 0;
  bool too_long = false;
  for (;;) {
    const auto line = recv_line(c, s);
    if (!line) return Multiline::kLost;
    if (*line == ".") return too_long ? Multiline::kTooLong : Multiline::kComplete;
    if (too_long) continue;
    bytes += line->size() + 2;
    if (bytes > c.max_reply_bytes || s.reader.overlong()) {
      too_long = true;
      continue;
    }
    on_line(*line);
  }
}

// Sends QUIT and reads its reply: true when the reply is there and positive.
// Callers that only end a connection ignore the result.
bool quit(const Pop3Client& c, Pop3Session& s) {
  bool answered = false;
  if (send_line(s, "QUIT")) {
    const auto reply = recv_line(c, s);
    answered = reply && !pop3_reply_negative(*reply);
  }
  s.list_fetched = false;
  return answered;
}

Pop3TlsFailure tls_failure_of(platform::TlsError error) {
  switch (error) {
    case platform::TlsError::kNone: return Pop3TlsFailure::kNone;
    case platform::TlsError::kUnknownIssuer: return Pop3TlsFailure::kUnknownIssuer;
    case platform::TlsError::kWrongName: return Pop3TlsFailure::kWrongName;
    case platform::TlsError::kExpired: return Pop3TlsFailure::kExpired;
    case platform::TlsError::kBadCertificate: return Pop3TlsFailure::kBadCertificate;
    case platform::TlsError::kHandshakeFailed: break;
  }
  return Pop3TlsFailure::kHandshakeFailed;
}

// Puts the session inside TLS: handshake and certificate check for the host
// typed in the server field. On failure the session is out of step (nothing
// more is said on it, not even QUIT) and the reason is noted, unless a cancel
// caused it.
bool start_tls(Pop3Client& c, Operation& op, Pop3Session& s) {
  s.broken = true;  // until the handshake has succeeded
  std::shared_ptr<platform::TlsConnection> tls = platform::tls_client(s.connection, c.server.host);
  if (!tls) {
    c.tls_failure = Pop3TlsFailure::kHandshakeFailed;
    return false;
  }
  if (!op.make_active(tls)) return false;
  const platform::TlsError error = tls->handshake(c.receive_timeout_ms);
  if (error != platform::TlsError::kNone) {
    if (!op.cancelled()) c.tls_failure = tls_failure_of(error);
    return false;
  }
  s.connection = std::move(tls);
  // Bytes a server sent in clear text behind its STLS reply are not taken
  // for replies of the protected session.
  s.reader.clear();
  s.broken = false;
  return true;
}

// Connects to the server, with the connect cut short by a cancel, and puts
// the connection inside TLS from the first byte when the field asks for it.
// The new connection becomes the active one; null when it failed or a cancel
// came.
SessionPtr connect_server(Pop3Client& c, Operation& op) {
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
  if (!conn || !op.make_active(conn)) return nullptr;
  auto session = std::make_shared<Pop3Session>();
  session->connection = std::move(conn);
  session->reader = Pop3LineReader(c.max_reply_bytes);
  if (c.server.security == Pop3Security::kImplicitTls && !start_tls(c, op, *session)) {
    return nullptr;
  }
  return session;
}

// Sends CAPA and notes whether the server lists PIPELINING. A negative reply
// (no CAPA) leaves the session without pipelining. False when the reply did
// not come.
bool read_capabilities(const Pop3Client& c, Pop3Session& s) {
  if (!send_line(s, "CAPA")) return false;
  const auto status = recv_line(c, s);
  if (!status) return false;
  if (pop3_reply_negative(*status)) return true;
  bool pipelining = false;
  const Multiline result = read_multiline(c, s, [&pipelining](std::string_view line) {
    std::string word(line.substr(0, line.find(' ')));
    for (char& ch : word) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    pipelining = pipelining || word == "PIPELINING";
  });
  if (result == Multiline::kLost) return false;
  s.pipelining = pipelining && result == Multiline::kComplete;
  return true;
}

// The login dialogue: greeting (not examined), STLS when asked for, CAPA
// when asked for, USER, PASS (in one send where CAPA listed PIPELINING). A
// negative reply is answered with QUIT; a lost connection is just
// dropped. Neither USER nor PASS leaves before a TLS session asked for is
// verified.
SessionPtr connect_login(Pop3Client& c, Operation& op, std::string_view user,
                         std::string_view password, bool ask_capabilities = false,
                         const std::vector<Pop3Request>& ahead = {}) {
  c.tls_failure = Pop3TlsFailure::kNone;
  c.login_failure = Pop3LoginFailure::kNoConnection;
  SessionPtr s = connect_server(c, op);
  if (!s) {
    if (c.tls_failure != Pop3TlsFailure::kNone) c.login_failure = Pop3LoginFailure::kTls;
    return nullptr;
  }
  // A reply that does not come: either the server went quiet, or it ends its
  // lines with LF alone, which never ends a line here.
  const auto no_answer = [&c, &s]() -> SessionPtr {
    c.login_failure = s->reader.holds_bare_line_feed() ? Pop3LoginFailure::kBareLineFeeds
                                                       : Pop3LoginFailure::kNoAnswer;
    if (c.tls_failure != Pop3TlsFailure::kNone) c.login_failure = Pop3LoginFailure::kTls;
    return nullptr;
  };
  if (!recv_line(c, *s)) return no_answer();
  if (c.server.security == Pop3Security::kStartTls) {
    if (!send_line(*s, "STLS")) return no_answer();
    const auto reply = recv_line(c, *s);
    if (!reply) return no_answer();
    if (pop3_reply_negative(*reply)) {
      // Refused or not offered: never go on in clear text.
      c.tls_failure = Pop3TlsFailure::kStlsRefused;
      c.login_failure = Pop3LoginFailure::kTls;
      quit(c, *s);
      return nullptr;
    }
    if (!start_tls(c, op, *s)) return no_answer();
  }
  if (ask_capabilities && !read_capabilities(c, *s)) return no_answer();
  // A server that pipelines takes USER and PASS in one send and answers
  // each: one round trip less. A refused USER makes its PASS fail as well.
  // The requests sent ahead follow in the same send; on a refused login
  // their replies (refusals, before a login) are read past before QUIT.
  const std::string user_command = "USER " + std::string(user);
  std::string pass_command = "PASS " + std::string(password);
  if (s->pipelining) {
    for (const Pop3Request& request : ahead) pass_command += "\r\n" + request.command;
  }
  const std::vector<std::string> sends =
      s->pipelining ? std::vector<std::string>{user_command + "\r\n" + pass_command}
                    : std::vector<std::string>{user_command, pass_command};
  const int replies_per_send = s->pipelining ? 2 : 1;
  for (const std::string& send : sends) {
    if (!send_line(*s, send)) return no_answer();
    bool refused = false;
    for (int reply_count = 0; reply_count < replies_per_send; ++reply_count) {
      const auto reply = recv_line(c, *s);
      if (!reply) return no_answer();
      refused = refused || pop3_reply_negative(*reply);
    }
    if (refused) {
      c.login_failure = Pop3LoginFailure::kRefused;
      const std::size_t sent_ahead = s->pipelining ? ahead.size() : 0;
      for (std::size_t i = 0; i < sent_ahead && recv_line(c, *s); ++i) {
      }
      quit(c, *s);
      return nullptr;
    }
  }
  c.login_failure = Pop3LoginFailure::kNone;
  if (s->pipelining) s->sent_ahead = ahead.size();
  return s;
}

// Sends LIST and fills the session's number list. False on any failure.
bool fetch_number_list(const Pop3Client& c, Pop3Session& s) {
  if (!send_line(s, "LIST")) return false;
  const auto status = recv_line(c, s);
  if (!status || pop3_reply_negative(*status)) return false;
  s.number_list.clear();
  const Multiline result = read_multiline(c, s, [&s](std::string_view line) {
    // The characters before the first space are the message number; a line
    // that gives none is skipped.
    const std::string_view number = line.substr(0, line.find(' '));
    if (!number.empty()) s.number_list.emplace_back(number);
  });
  if (result != Multiline::kComplete) return false;
  s.number_cursor = 0;
  s.list_fetched = true;
  return true;
}

// Takes a scheme off the front of `field`, ignoring ASCII case.
bool take_scheme(std::string_view& field, std::string_view scheme) {
  if (field.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    char ch = field[i];
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (ch != scheme[i]) return false;
  }
  field.remove_prefix(scheme.size());
  return true;
}

// "host", "host:port" or "[IPv6]:port", with `port` as the default.
std::optional<Pop3ServerField> parse_host_port(std::string_view field, int port) {
  Pop3ServerField result;
  result.port = port;
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

}  // namespace

// ------------------------------------------------------------ server field

std::optional<Pop3ServerField> parse_server_field(std::string_view field) {
  Pop3Security security = Pop3Security::kPlain;
  int default_port = kPop3DefaultPort;
  bool scheme = true;
  if (take_scheme(field, "pop3s://")) {
    security = Pop3Security::kImplicitTls;
    default_port = kPop3sDefaultPort;
  } else if (take_scheme(field, "pop3+starttls://")) {
    security = Pop3Security::kStartTls;
  } else if (!take_scheme(field, "pop3://")) {
    scheme = false;
    // Any other "name://" is a scheme this client does not speak.
    if (field.find("://") != std::string_view::npos) return std::nullopt;
  }
  if (scheme && field.ends_with('/')) field.remove_suffix(1);
  auto result = parse_host_port(field, default_port);
  if (!result) return std::nullopt;
  result->security = security;
  // The port of POP3 over TLS means TLS even without a scheme.
  if (!scheme && result->port == kPop3sDefaultPort) {
    result->security = Pop3Security::kImplicitTls;
  }
  return result;
}

std::string_view pop3_tls_failure_reason(Pop3TlsFailure failure) {
  switch (failure) {
    case Pop3TlsFailure::kNone: return "";
    case Pop3TlsFailure::kUnknownIssuer: return "unknown issuer";
    case Pop3TlsFailure::kWrongName: return "wrong name";
    case Pop3TlsFailure::kExpired: return "expired";
    case Pop3TlsFailure::kBadCertificate: return "certificate refused";
    case Pop3TlsFailure::kHandshakeFailed: return "handshake failed";
    case Pop3TlsFailure::kStlsRefused: return "STLS refused";
  }
  return "";
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

bool Pop3LineReader::holds_bare_line_feed() const {
  return pending_.find('\n', consumed_) != std::string::npos;
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
  append_jis_line_as_sjis(text, line);
  text += crlf ? "\r\n" : "\n";
}

// ------------------------------------------------------------------ client

int pop3_init(Pop3Client& c, std::string_view server) {
  Operation op(c);
  if (is_initialised(c)) return 0;
  auto field = parse_server_field(server);
  if (!field) return 0;
  if (!platform::net_startup()) return 0;
  auto address = platform::resolve(field->host, field->port);
  std::lock_guard state(c.state_mutex);
  if (!address || op.cancelled_locked()) {
    platform::net_cleanup();
    return 0;
  }
  c.server = std::move(*field);
  c.server_address = std::move(*address);
  change_lifecycle(c, Pop3Lifecycle::kInitialised);
  return 1;
}

int pop3_verify_login(Pop3Client& c, std::string_view user, std::string_view password) {
  Operation op(c);
  if (!is_initialised(c)) return 0;
  user = user.substr(0, kMaxAccountField);
  password = password.substr(0, kMaxAccountField);
  // A line break would end the command early and smuggle in another one.
  if (has_line_break(user) || has_line_break(password)) return 0;
  // The check has a session of its own; an open one is not touched.
  const SessionPtr s = connect_login(c, op, user, password);
  if (!s) return 0;
  quit(c, *s);
  std::lock_guard state(c.state_mutex);
  if (op.cancelled_locked() || c.lifecycle == Pop3Lifecycle::kUninitialised) return 0;
  c.user = user;
  c.password = password;
  if (c.lifecycle == Pop3Lifecycle::kInitialised) change_lifecycle(c, Pop3Lifecycle::kVerified);
  return 1;
}

int pop3_open(Pop3Client& c) {
  Operation op(c);
  {
    std::lock_guard state(c.state_mutex);
    if (c.lifecycle != Pop3Lifecycle::kVerified) return 0;
  }
  const SessionPtr s = connect_login(c, op, c.user, c.password);
  if (!s) return 0;
  std::lock_guard state(c.state_mutex);
  if (op.cancelled_locked() || c.lifecycle != Pop3Lifecycle::kVerified) return 0;
  change_lifecycle(c, Pop3Lifecycle::kOpen, s);
  return 1;
}

namespace {

// "TOP n 0" on the open session; the subject of the header block is decoded
// from its lines as sent (still dot-stuffed), as the retrieval feeds them.
bool scan_subject(Pop3Client& c, Pop3Session& s, int number, std::string& subject) {
  SubjectExtractor extractor;
  const bool ok =
      command_ok(c, s, "TOP " + std::to_string(number) + " 0") &&
      read_multiline(c, s, [&extractor](std::string_view line) { extractor.header_line(line); }) ==
          Multiline::kComplete;
  if (ok) subject = extractor.subject();
  return ok;
}

}  // namespace

int pop3_next_message(Pop3Client& c) {
  Operation op(c);
  const SessionPtr s = op.open_session();
  if (!s) return -1;
  if (!s->list_fetched && !fetch_number_list(c, *s)) return -1;
  if (s->number_cursor >= s->number_list.size()) {
    s->list_fetched = false;
    return 0;
  }
  const int number = decimal_value(s->number_list[s->number_cursor]);
  c.current_subject.clear();
  std::string subject;
  if (!scan_subject(c, *s, number, subject)) {
    s->list_fetched = false;
    return -1;
  }
  c.current_number = number;
  c.current_subject = std::move(subject);
  ++s->number_cursor;
  return 1;
}

int pop3_scan_subject(Pop3Client& c, int number, std::string& subject) {
  Operation op(c);
  subject.clear();
  const SessionPtr s = op.open_session();
  if (!s) return -1;
  return scan_subject(c, *s, number, subject) ? 1 : -1;
}

int pop3_login(Pop3Client& c, std::string_view user, std::string_view password,
               const std::vector<Pop3Request>& ahead) {
  Operation op(c);
  {
    std::lock_guard state(c.state_mutex);
    if (c.lifecycle != Pop3Lifecycle::kInitialised && c.lifecycle != Pop3Lifecycle::kVerified) {
      return 0;
    }
  }
  user = user.substr(0, kMaxAccountField);
  password = password.substr(0, kMaxAccountField);
  if (has_line_break(user) || has_line_break(password)) return 0;
  const SessionPtr s = connect_login(c, op, user, password, true, ahead);
  if (!s) return 0;
  std::lock_guard state(c.state_mutex);
  if (op.cancelled_locked() || c.lifecycle == Pop3Lifecycle::kUninitialised ||
      c.lifecycle == Pop3Lifecycle::kOpen) {
    return 0;
  }
  c.user = user;
  c.password = password;
  change_lifecycle(c, Pop3Lifecycle::kOpen, s);
  return 1;
}

bool pop3_pipelining(const Pop3Client& c) {
  std::lock_guard state(c.state_mutex);
  return c.open_session && c.open_session->pipelining;
}

int pop3_run_batch(Pop3Client& c, const std::vector<Pop3Request>& requests,
                   const Pop3ReplySink& sink) {
  Operation op(c);
  const SessionPtr s = op.open_session();
  if (!s) return -1;
  const std::size_t max_requests = s->pipelining ? kMaxRequestsInFlight : 1;
  std::size_t sent = 0;       // requests sent so far
  std::size_t answered = 0;   // replies read so far
  std::size_t awaited_bytes = 0;  // expected bytes of the replies in flight
  // The first requests may have gone out with the login.
  for (; sent < std::min(s->sent_ahead, requests.size()); ++sent) {
    awaited_bytes += requests[sent].expected_bytes;
  }
  s->sent_ahead = 0;
  bool stopped = false;
  std::string text;
  while (answered < sent || (!stopped && sent < requests.size())) {
    // Fill the window: every command that fits goes out in one send.
    std::string burst;
    while (!stopped && sent < requests.size() && sent - answered < max_requests &&
           (sent == answered ||
            awaited_bytes + requests[sent].expected_bytes <= kMaxReplyBytesInFlight)) {
      burst += requests[sent].command;
      burst += "\r\n";
      awaited_bytes += requests[sent].expected_bytes;
      ++sent;
    }
    if (!burst.empty() && !s->connection->send_all(burst)) {
      s->broken = true;
      return -1;
    }
    // Then read the oldest reply.
    const Pop3Request& request = requests[answered];
    const auto status = recv_line(c, *s);
    if (!status) return -1;
    Pop3Reply reply = Pop3Reply::kOk;
    text.clear();
    if (pop3_reply_negative(*status)) {
      reply = Pop3Reply::kNegative;
      text = *status;
    } else if (request.multiline) {
      const Multiline result = read_multiline(c, *s, [&text](std::string_view line) {
        if (line.starts_with("..")) line.remove_prefix(1);
        text += line;
        text += '\n';
      });
      if (result == Multiline::kLost) return -1;
      if (result == Multiline::kTooLong) {
        reply = Pop3Reply::kTooLong;
        text.clear();
      }
    } else {
      text = *status;
    }
    awaited_bytes -= request.expected_bytes;
    const std::size_t index = answered++;
    if (!sink(index, reply, text)) stopped = true;
  }
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

Pop3TlsFailure pop3_tls_failure(const Pop3Client& c) {
  std::lock_guard op(c.operation_mutex);
  return c.tls_failure;
}

Pop3LoginFailure pop3_login_failure(const Pop3Client& c) {
  std::lock_guard op(c.operation_mutex);
  return c.login_failure;
}

int pop3_retrieve(Pop3Client& c, int number, std::string& text, int crlf, int delete_flag,
                  std::string* subject) {
  Operation op(c);
  const SessionPtr s = op.open_session();
  if (!s) return 0;
  if (!command_ok(c, *s, "RETR " + std::to_string(number))) return 0;
  const std::size_t start = text.size();
  SubjectExtractor header_subject;
  bool in_header = subject != nullptr;
  const Multiline result = read_multiline(c, *s, [&](std::string_view line) {
    if (in_header) {
      in_header = !line.empty();
      // The scan saw the lines as sent (still dot-stuffed), so they are fed alike.
      if (in_header) header_subject.header_line(line);
    }
    append_message_line(text, line, crlf != 0);
  });
  if (subject) *subject = header_subject.subject();
  if (result != Multiline::kComplete) {
    // A message cut short or too big is not handed on, and not deleted.
    text.resize(start);
    return 0;
  }
  if (delete_flag == 0) return 1;
  return command_ok(c, *s, "DELE " + std::to_string(number)) ? 1 : 0;
}

int pop3_unique_ids(Pop3Client& c, std::vector<Pop3UniqueId>& ids) {
  Operation op(c);
  ids.clear();
  const SessionPtr s = op.open_session();
  if (!s || !send_line(*s, "UIDL")) return -1;
  const auto status = recv_line(c, *s);
  if (!status) return -1;
  if (pop3_reply_negative(*status)) return kUidlUnsupported;
  const Multiline result = read_multiline(c, *s, [&ids](std::string_view line) {
    ids.push_back(pop3_uidl_line(line));
  });
  if (result != Multiline::kComplete) {
    ids.clear();
    return -1;
  }
  return 1;
}

Pop3UniqueId pop3_uidl_line(std::string_view line) {
  // "number SP id": the id is the rest of the line, blanks and all, so that
  // two ids that differ only behind a blank are never taken for one.
  const std::size_t space = line.find(' ');
  const std::string_view uid =
      space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  return {message_number(line.substr(0, space)), std::string(uid)};
}

Pop3ListEntry pop3_list_line(std::string_view line) {
  const std::size_t space = line.find(' ');
  Pop3ListEntry entry{message_number(line.substr(0, space)), -1};
  if (space != std::string_view::npos) {
    const std::string_view rest = line.substr(space + 1);
    const std::string_view digits = rest.substr(0, rest.find(' '));
    if (!digits.empty() && digits.size() <= 15 &&
        digits.find_first_not_of("0123456789") == std::string_view::npos) {
      entry.size = std::stoll(std::string(digits));
    }
  }
  return entry;
}

int pop3_list_sizes(Pop3Client& c, std::vector<Pop3ListEntry>& entries) {
  Operation op(c);
  entries.clear();
  const SessionPtr s = op.open_session();
  if (!s || !send_line(*s, "LIST")) return 0;
  const auto status = recv_line(c, *s);
  if (!status || pop3_reply_negative(*status)) return 0;
  const Multiline result = read_multiline(c, *s, [&entries](std::string_view line) {
    const Pop3ListEntry entry = pop3_list_line(line);
    if (entry.number != 0) entries.push_back(entry);
  });
  if (result == Multiline::kComplete) return 1;
  entries.clear();
  return 0;
}

int pop3_message_numbers(Pop3Client& c, std::vector<int>& numbers) {
  Operation op(c);
  numbers.clear();
  const SessionPtr s = op.open_session();
  if (!s || !fetch_number_list(c, *s)) return 0;
  // The listing belongs to this call, not to a scan in progress.
  s->list_fetched = false;
  for (const std::string& number : s->number_list) numbers.push_back(decimal_value(number));
  return 1;
}

namespace {

// A multi-line reply to `command` as raw text: dot-unstuffed lines, each
// ended by LF. 1 = read; 0 = any failure; kReplyTooLong = over the bound
// (`text` empty in both).
int read_raw_reply(Pop3Client& c, const std::string& command, std::string& text) {
  Operation op(c);
  text.clear();
  const SessionPtr s = op.open_session();
  if (!s || !command_ok(c, *s, command)) return 0;
  const Multiline result = read_multiline(c, *s, [&text](std::string_view line) {
    if (line.starts_with("..")) line.remove_prefix(1);
    text += line;
    text += '\n';
  });
  if (result == Multiline::kComplete) return 1;
  text.clear();
  return result == Multiline::kTooLong ? kReplyTooLong : 0;
}

}  // namespace

int pop3_header_block(Pop3Client& c, int number, std::string& header) {
  return read_raw_reply(c, "TOP " + std::to_string(number) + " 0", header);
}

int pop3_retrieve_raw(Pop3Client& c, int number, std::string& raw) {
  return read_raw_reply(c, "RETR " + std::to_string(number), raw);
}

int pop3_delete(Pop3Client& c, int number) {
  Operation op(c);
  const SessionPtr s = op.open_session();
  if (!s) return 0;
  // A DELE that went out without an answer may have been carried out: the
  // caller must then treat the message as deleted at QUIT.
  if (!send_line(*s, "DELE " + std::to_string(number))) return kDeleteUnanswered;
  const auto reply = recv_line(c, *s);
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
  SessionPtr s;
  {
    std::lock_guard state(c.state_mutex);
    if (c.lifecycle != Pop3Lifecycle::kOpen || !c.open_session) return 0;
    s = c.open_session;
    c.active = s->connection;
  }
  // QUIT is sent even when a reply was left half read: the server still
  // carries out the deletions it accepted, whose logs are kept. On such a
  // connection the line read next may be a late reply to an earlier command,
  // so it confirms nothing.
  const bool in_step = !s->broken;
  const bool answered = quit(c, *s);
  std::lock_guard state(c.state_mutex);
  if (c.lifecycle == Pop3Lifecycle::kOpen) change_lifecycle(c, Pop3Lifecycle::kVerified);
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
  if (c.lifecycle == Pop3Lifecycle::kUninitialised) return;
  change_lifecycle(c, Pop3Lifecycle::kUninitialised);  // an open session dropped without QUIT
  platform::net_cleanup();
}

}  // namespace larkspur
