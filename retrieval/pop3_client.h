// The POP3 client: the subset USER, PASS, LIST, TOP, RETR, DELE, QUIT of
// RFC 1939, plus STLS (RFC 2595), over plain TCP or TLS to the configured
// server.
//
// Two ways to use it, both with the security the server field asks for:
// - classic: three connections one after the other, a credential check
//   (pop3_verify_login), a scan (pop3_open, pop3_next_message until it gives
//   0, pop3_close) and a retrieval (pop3_open, pop3_retrieve and pop3_delete
//   per message, pop3_close);
// - one session (pop3_login, pop3_run_batch, pop3_close), pipelined where the
//   server allows it: the extended mail handling's (job/pop3_mail_source.cpp).
// pop3_shutdown ends either.
//
// Threads: every operation runs on the receive worker's thread, except
// pop3_close and pop3_shutdown, which another thread (the user interface's
// cancel) may call at any moment. Called while an operation of the worker is
// in progress, they cancel it: the connection is aborted (no QUIT, so the
// server carries out no deletion), a connect, handshake or receive that is
// blocked fails at once, and the operation returns its failure result.
// Called between operations they act normally. Each thread sees consistent
// state; nothing is used after it is closed.
//
// Text: every text given and returned is Shift_JIS bytes; subjects and
// message lines are converted from ISO-2022-JP on arrival (retrieval/decode.h).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "settings/records.h"

namespace larkspur {

inline constexpr int kPop3DefaultPort = 110;
inline constexpr int kPop3sDefaultPort = 995;  // POP3 inside TLS from the first byte
inline constexpr int kPop3ConnectTimeoutMs = 30'000;
inline constexpr int kPop3ReceiveTimeoutMs = 120'000;  // for each receive
// Upper bound of one reply (a message, a LIST or a header block) and so of any
// line in it. A bigger reply is read to its end and discarded, and the
// operation fails.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} << 20;

// ------------------------------------------------------------ server field

// How a connection to the server is protected.
enum class Pop3Security {
  kPlain,        // plain POP3 throughout
  kImplicitTls,  // TLS from the first byte (pop3s)
  kStartTls,     // plain until STLS, which must succeed before USER
};

// The server field: an optional scheme, then "host", "host:port" or
// "[IPv6 address]:port" ("[::1]" alone is allowed too). A text with two or
// more colons and no brackets is an IPv6 address without port.
//   pop3s://HOST[:PORT]          implicit TLS, port 995 by default
//   pop3+starttls://HOST[:PORT]  STLS, port 110 by default
//   pop3://HOST[:PORT]           plain, port 110 by default
//   HOST[:PORT]                  plain, port 110 by default; implicit TLS when
//                                the port is 995
// Schemes are matched ignoring ASCII case; one '/' may end the field.
struct Pop3ServerField {
  std::string host;
  int port = kPop3DefaultPort;
  Pop3Security security = Pop3Security::kPlain;
};
// nullopt when the host is empty, the scheme unknown or the port is not a
// number in 1..65535.
std::optional<Pop3ServerField> parse_server_field(std::string_view field);

// ---------------------------------------------- socket-free reply reading

// Splits the bytes a server sends into lines. Only CR LF ends a line; a bare
// LF or CR is part of the line. Works however the bytes are split across
// feed() calls. A line longer than its bound is delivered cut (with
// overlong() true), its surplus bytes dropped, so memory stays bounded.
class Pop3LineReader {
 public:
  explicit Pop3LineReader(std::size_t max_line_bytes = kMaxReplyBytes)
      : max_line_bytes_(max_line_bytes) {}
  void feed(std::string_view bytes);
  // Next complete line without its CR LF, or nullopt when more bytes are
  // needed.
  std::optional<std::string> next_line();
  // Whether the line last returned by next_line() was cut at the bound.
  bool overlong() const { return last_overlong_; }
  // Forgets every byte not yet delivered.
  void clear();
  // Whether the bytes not yet delivered hold a LF: a server that ends its
  // lines with a bare LF, whose lines therefore never end.
  bool holds_bare_line_feed() const;

 private:
  std::string pending_;        // bytes fed, not yet delivered, from consumed_
  std::string head_;           // kept start of an overlong line
  std::size_t consumed_ = 0;   // delivered prefix of pending_
  std::size_t scanned_ = 0;    // bytes after consumed_ known to hold no CR LF
  std::size_t max_line_bytes_;
  bool dropping_ = false;      // the current line passed the bound
  bool last_overlong_ = false;
};

// A reply line is negative when its first character is '-'; anything else,
// an empty line included, counts as positive.
bool pop3_reply_negative(std::string_view line);

// The subject of one header block, fed line by line (the lines of a TOP reply
// before its single-dot line, as received). Only a line beginning with
// exactly "Subject: " starts a subject. While in a subject, a line whose first
// two characters hold k > 0 blanks (space or tab, counted in either place) is
// a continuation: its first k characters are cut and the rest appended; a
// line with k = 0 ends the subject. Each piece is decoded with
// decode_encoded_words and jis_to_sjis_subject. A later "Subject: " replaces
// an earlier one.
class SubjectExtractor {
 public:
  void header_line(std::string_view line);
  const std::string& subject() const { return subject_; }

 private:
  std::string subject_;
  bool in_subject_ = false;
};

// Appends one line of a RETR reply (not its single-dot end line) to `text`:
// a line beginning with two dots loses its first dot, the line is converted
// with jis_to_sjis_line, then LF (crlf false) or CR LF (crlf true) follows.
void append_message_line(std::string& text, std::string_view line, bool crlf);

// ------------------------------------------------------------------ client

// Makes a TCP connection (platform::tcp_connect by default). Tests inject a
// fake to run the client over scripted bytes.
using Pop3Connector = std::function<std::unique_ptr<platform::TcpConnection>(
    const platform::NetAddress& address, int timeout_ms,
    const std::function<bool()>& aborted)>;

// Why the last connection attempt found no protected session to log in on.
// USER and PASS are never sent in any of these cases.
enum class Pop3TlsFailure {
  kNone,
  kUnknownIssuer,    // certificate chain ends at no trusted root
  kWrongName,        // certificate not issued for the host typed
  kExpired,          // certificate not valid now
  kBadCertificate,   // certificate refused for another reason
  kHandshakeFailed,  // no TLS session (not a TLS server, dropped, time-out)
  kStlsRefused,      // the server refused STLS or does not offer it
};
// A short English name of the failure for diagnostics ("unknown issuer"),
// empty for kNone.
std::string_view pop3_tls_failure_reason(Pop3TlsFailure failure);

// Why the last login (pop3_verify_login or pop3_open) failed, for a
// diagnostic that says what really happened; kNone when it did not fail.
enum class Pop3LoginFailure {
  kNone,
  kNoConnection,   // no TCP connection (refused, unreachable, time-out)
  kNoAnswer,       // connected, but a reply did not come (closed or time-out)
  kBareLineFeeds,  // the server ends its lines with LF alone, never CR LF
  kRefused,        // a negative reply to USER or PASS
  kTls,            // see pop3_tls_failure
};

// The client's lifecycle. Changes only through the client's own transition
// function: uninitialised -> initialised (pop3_init) -> verified
// (pop3_verify_login) -> open (pop3_open) -> verified (pop3_close) -> ...
// -> uninitialised (pop3_shutdown, from any state).
enum class Pop3Lifecycle { kUninitialised, kInitialised, kVerified, kOpen };

// One connection to the server and what belongs to it alone. Used by one
// thread at a time (the worker's operation); another thread only aborts the
// connection, which never changes once the session is open.
struct Pop3Session {
  std::shared_ptr<platform::TcpConnection> connection;
  Pop3LineReader reader;
  bool broken = false;  // out of step with the server (a reply half read): refuse commands
  std::vector<std::string> number_list;  // message numbers from LIST
  std::size_t number_cursor = 0;         // next entry of number_list to scan
  bool list_fetched = false;             // number_list is filled for this session
  bool pipelining = false;               // CAPA listed PIPELINING (RFC 2449)
  std::size_t sent_ahead = 0;            // requests of the next batch sent with the login
};

// The client: settings and state for the whole process. Use it only through
// the pop3_* functions below; the fields are public so that the functions can
// be plain procedures, not so that callers touch them. Callers may set the
// four settings before pop3_init.
struct Pop3Client {
  // ---- settings
  int connect_timeout_ms = kPop3ConnectTimeoutMs;
  int receive_timeout_ms = kPop3ReceiveTimeoutMs;  // each receive, and a whole TLS handshake
  std::size_t max_reply_bytes = kMaxReplyBytes;
  Pop3Connector connector;  // empty: platform::tcp_connect

  // ---- shared with a cancelling thread; guarded by state_mutex
  mutable std::mutex state_mutex;
  Pop3Lifecycle lifecycle = Pop3Lifecycle::kUninitialised;
  // The session of pop3_open while the lifecycle is open, else null.
  std::shared_ptr<Pop3Session> open_session;
  // The connection the operation in progress works on (also a credential
  // check's or a login's before it is kept), or null.
  std::shared_ptr<platform::TcpConnection> active;
  unsigned cancel_count = 0;     // bumped by each cancel
  bool cleanup_pending = false;  // a cancelling shutdown left net_cleanup to the worker

  // ---- the worker's; guarded by operation_mutex, held through every operation
  mutable std::mutex operation_mutex;
  Pop3ServerField server;  // host, port and security of pop3_init
  platform::NetAddress server_address;
  std::string user;      // at most kMaxAccountField
  std::string password;  // plain text, at most kMaxAccountField
  int current_number = 0;  // message whose header block was last read
  std::string current_subject;
  Pop3TlsFailure tls_failure = Pop3TlsFailure::kNone;  // of the last connection attempt
  Pop3LoginFailure login_failure = Pop3LoginFailure::kNone;  // of the last login
};

Pop3LoginFailure pop3_login_failure(const Pop3Client& client);

// Starts the socket library (version 1.1 on Windows) and resolves the server
// field (see parse_server_field; IPv4 preferred); the field's security holds
// for every later connection. 1 = ready; 0 = already initialised (the first
// initialisation stays), socket library unavailable, or server field unusable
// or not resolvable.
int pop3_init(Pop3Client& client, std::string_view server);

// Logs in (greeting, STLS and TLS handshake when asked, USER, PASS) and
// quits at once. 1 = accepted: user and password (each cut at
// kMaxAccountField) are stored and the client is verified; 0 = not
// initialised, or connection, TLS (see pop3_tls_failure) or login failed. A
// negative reply to USER, PASS or STLS is answered with QUIT.
int pop3_verify_login(Pop3Client& client, std::string_view user,
                      std::string_view password);

// Opens a logged-in connection with the stored credentials. 1 = open; 0 = not
// initialised, not verified, a connection is open already (it stays), or
// connection or login failed.
int pop3_open(Pop3Client& client);

// One scan step on the open connection. The first step sends LIST; each step
// sends "TOP n 0" for the next listed message and reads its header block.
// 1 = one message scanned (pop3_current_number / pop3_current_subject tell
// which); 0 = no further message (the scan is over); -1 = failure or no open
// connection (the scan is over too).
int pop3_next_message(Pop3Client& client);
int pop3_current_number(const Pop3Client& client);
std::string pop3_current_subject(const Pop3Client& client);

// The scan's step for one message whose number the caller has (from
// pop3_message_numbers, whose LIST is the scan's): "TOP n 0", and the
// decoded subject of its header block into `subject`. 1 = read; -1 = failure
// or no open connection (`subject` empty).
int pop3_scan_subject(Pop3Client& client, int number, std::string& subject);

// Retrieves message `number` ("RETR n") and appends its lines to `text`,
// dot-unstuffed, converted to Shift_JIS, each followed by LF (crlf 0) or
// CR LF (crlf nonzero). With delete_flag nonzero it then sends "DELE n"; the
// server deletes at QUIT. 1 = text appended (and deletion accepted when
// asked); 0 = no open connection, a failure, a negative reply (a negative
// DELE reply leaves the text appended), or a message over kMaxReplyBytes
// (read to its end, nothing appended, no DELE sent).
// When `subject` is given, it receives the subject of the retrieved header
// block, decoded as the scan decodes it (SubjectExtractor), so the caller can
// tell whether the number still names the message the scan saw.
int pop3_retrieve(Pop3Client& client, int number, std::string& text, int crlf,
                  int delete_flag, std::string* subject = nullptr);

// ------------------------------------------- the extended scan's operations
// Used by the receive job only for an account with kAccountOptionExtendedMail.
// They work on the open connection like the operations above and leave the
// bytes as the server sent them: no charset conversion.

// One line of a UIDL listing: the message number and its unique id, exactly
// as the server sent them: the id is the whole rest of the line after the
// space behind the number (RFC 1939 allows 0x21..0x7E; a server that puts a
// blank in its ids is read as it is). number is 0 for a line whose first
// word is not a number from 1 up.
struct Pop3UniqueId {
  int number = 0;
  std::string uid;
};

// One line of a UIDL listing ("n id"), read as pop3_unique_ids reads it.
Pop3UniqueId pop3_uidl_line(std::string_view line);

// Sends "UIDL" and reads the whole listing into `ids` (replacing it), in the
// server's order. 1 = listing read; 0 = the server answered negatively (it
// does not offer UIDL; the connection stays usable); -1 = a failure, a
// listing over kMaxReplyBytes or no open connection.
inline constexpr int kUidlUnsupported = 0;
int pop3_unique_ids(Pop3Client& client, std::vector<Pop3UniqueId>& ids);

// Sends "LIST" and reads the message numbers into `numbers` (replacing it).
// 1 = read; 0 = a failure, a negative reply or no open connection.
int pop3_message_numbers(Pop3Client& client, std::vector<int>& numbers);

// One line of a LIST listing: message number and size in octets (-1 when the
// line gives no size that is a number).
struct Pop3ListEntry {
  int number = 0;
  long long size = -1;
};
// One line of a LIST listing ("n size"); number 0 when it names no message.
Pop3ListEntry pop3_list_line(std::string_view line);

// Sends "LIST" and reads every line of the listing into `entries` (replacing
// it), in the server's order; lines whose first word is no number from 1 up
// are left out. 1 = read; 0 = as pop3_message_numbers.
int pop3_list_sizes(Pop3Client& client, std::vector<Pop3ListEntry>& entries);

// What pop3_header_block and pop3_retrieve_raw give for a reply over
// max_reply_bytes: read to its end, the session still in step.
inline constexpr int kReplyTooLong = -2;

// Sends "TOP n 0" and puts the header block of message `number` into
// `header` (replacing it): the lines as received, dot-unstuffed, each ended by
// LF. 1 = read; 0 = a failure, a negative reply or no open connection;
// kReplyTooLong = a block over max_reply_bytes (`header` empty).
int pop3_header_block(Pop3Client& client, int number, std::string& header);

// Sends "RETR n" and puts message `number` into `raw` (replacing it): the
// lines as received, dot-unstuffed, each ended by LF. No DELE is sent
// (pop3_delete does that). 1 = read; 0 or kReplyTooLong = as for
// pop3_header_block (`raw` then empty).
int pop3_retrieve_raw(Pop3Client& client, int number, std::string& raw);

// Sends "DELE n" on the open connection. 1 = reply present and not negative;
// 0 = a negative reply (the message stays on the server) or no open
// connection (nothing was sent); -1 = the reply is missing (time-out, dropped
// line, failed send): the server may have marked the message deleted, and the
// connection is out of step from then on.
inline constexpr int kDeleteUnanswered = -1;
int pop3_delete(Pop3Client& client, int number);

// ------------------------------------------ one session, pipelined batches
// Used by the receive job for an account with kAccountOptionExtendedMail:
// one logged-in session does everything, and where the server allows it many
// commands are in flight at once.

// One command of a batch.
struct Pop3Request {
  std::string command;             // "TOP 3 0", "RETR 3", "DELE 3", "UIDL", "LIST"
  bool multiline = false;          // a positive reply goes on to a single-dot line
  std::size_t expected_bytes = 0;  // the reply's expected size (a message's from LIST)
};

// Logs in with `user` and `password` (cut as pop3_verify_login cuts them)
// and keeps the session open: greeting, STLS when asked, CAPA (once, to learn
// whether the server pipelines), USER, PASS. The client is then open, as
// after pop3_verify_login and pop3_open, without the credential check's own
// connection. 1 = open; 0 = as pop3_verify_login (pop3_login_failure and
// pop3_tls_failure say why).
// `ahead` are the requests of the session's first batch. Where the server
// pipelines they go out in the same send as USER and PASS, a round trip less
// (and the server's first replies come in full segments, never held back
// for an acknowledgement); the first pop3_run_batch, given these requests
// first, then reads their replies without sending them again.
int pop3_login(Pop3Client& client, std::string_view user, std::string_view password,
               const std::vector<Pop3Request>& ahead = {});

// Whether the open session may keep many commands in flight.
bool pop3_pipelining(const Pop3Client& client);

// Requests in flight at most, and bytes of replies expected in flight at
// most, when the server pipelines. The byte bound keeps the server's replies
// within what the connection buffers, so neither side ever waits on the
// other's full buffer.
inline constexpr std::size_t kMaxRequestsInFlight = 256;
inline constexpr std::size_t kMaxReplyBytesInFlight = std::size_t{1} << 20;

// What one reply of a batch was.
enum class Pop3Reply {
  kOk,        // positive; for a multi-line reply its lines follow
  kNegative,  // negative (the text is the status line)
  kTooLong,   // a multi-line reply over max_reply_bytes, read to its end
};
// Receives the reply to request `index`: what it was, and its text (a
// multi-line reply's lines dot-unstuffed, each ended by LF; else the status
// line). The text may be moved from. Returning false sends no further
// request (those in flight are still read).
using Pop3ReplySink = std::function<bool(std::size_t index, Pop3Reply reply, std::string& text)>;

// Sends the requests on the open session, in order, and hands every reply to
// `sink` in order. Where the session pipelines, requests go out in bursts
// while fewer than kMaxRequestsInFlight and kMaxReplyBytesInFlight are
// awaited; otherwise one at a time. 1 = every request sent got its reply;
// -1 = no open session, or the connection was lost (or cut by a cancel):
// the replies not delivered are unknown, and the session is out of step.
int pop3_run_batch(Pop3Client& client, const std::vector<Pop3Request>& requests,
                   const Pop3ReplySink& sink);

// Why the last connection attempt (pop3_verify_login or pop3_open) failed
// before login because of TLS or STLS; kNone when it did not.
Pop3TlsFailure pop3_tls_failure(const Pop3Client& client);

// Quits and closes the open connection, if any. From another thread during an
// operation: cancels it (see the top). 1 = QUIT was answered positively on a
// connection in step with the server, so the deletions it accepted are
// confirmed; 0 = anything else (no connection, a negative or missing reply,
// a connection out of step whose reply cannot be told apart, a cancel).
int pop3_close(Pop3Client& client);

// Cleans the socket library up if initialised and clears initialised and
// verified; an open connection is dropped without QUIT. Idempotent. From
// another thread during an operation: cancels it, and the socket library is
// cleaned up when that operation has returned.
void pop3_shutdown(Pop3Client& client);

}  // namespace larkspur
