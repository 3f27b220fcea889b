// Where a receive job takes its mail from: one small interface, made for
// batches, so that the job never speaks a protocol itself. POP3 sits behind
// it (pipelined for extended mail handling, command by command for the
// classic), and files; IMAP fits the same calls. Every call gives one kind of
// result (SourceOutcome); the job records a failure in one place
// (ExtendedReceive::failed, ReceiveJobContext::fail_with).
//
// A source is used in this order: verify, open, list, then headers and fetch
// for the messages it needs, mark_deleted for those whose logs are on disk,
// finish. Message numbers are the source's handles for its messages and hold
// from open to finish. The classic job opens a source three times (its login
// check, its scan, its retrieval), as the classic handling always has.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "retrieval/pop3_client.h"

namespace larkspur {

enum class SourceResult {
  kOk,
  kRefused,   // the source said no (to the call, or for one message)
  kLost,      // the connection to the source is gone: nothing more can be asked
  kTooLong,   // one message is over the source's bound (the others go on)
  kNoSession, // no session could be had (login, TLS): see SourceOutcome::reason
};

struct SourceOutcome {
  SourceResult result = SourceResult::kOk;
  std::string reason;  // Shift_JIS, for the job's record; empty when ok
  bool ok() const { return result == SourceResult::kOk; }
};

// One message of the listing.
struct SourceEntry {
  int number = 0;
  std::string id;       // as the source gives it (empty: none)
  long long size = -1;  // octets (-1: unknown)
};

// One message as the source hands it over: its header block or whole text
// (dot-unstuffed lines, each ended by LF; the sink may move it away), or the
// outcome that stands for it (refused, too long: no text).
struct SourceMessage {
  int number = 0;
  SourceOutcome outcome;
  std::string text;
  // A source that decodes as it reads (the classic POP3 source) gives the
  // decoded subject here and its own form of the text (see
  // make_classic_pop3_source); empty for the others.
  std::string subject;
};

// Receives the messages one by one, in order. Returning false asks for
// nothing more.
using SourceSink = std::function<bool(SourceMessage& message)>;

class MailSource {
 public:
  virtual ~MailSource() = default;

  // Checks, on a session of its own that ends at once, that the source can
  // be reached and takes the credentials, before any work. kNoSession with
  // the reason when not (a TLS failure sets tls_failed too). Sources that
  // have nothing to check (they log in with open) answer ok.
  virtual SourceOutcome verify() { return {}; }

  // Opens a session. kNoSession with the reason when that failed; a TLS
  // failure sets tls_failed too. After finish a source may be opened again:
  // each session has its own message numbers.
  virtual SourceOutcome open() = 0;
  virtual bool tls_failed() const = 0;

  // Every message with its size and id. `has_ids` is false when the source
  // gives no ids (a POP3 server without UIDL): ids are then empty. Entries
  // the source could not read are left out and counted in `unreadable`.
  virtual SourceOutcome list(std::vector<SourceEntry>& entries, bool& has_ids,
                             int& unreadable) = 0;

  // The header blocks of `numbers`, handed to `sink` in order.
  virtual SourceOutcome headers(const std::vector<SourceEntry>& messages, const SourceSink& sink) = 0;

  // The whole messages, handed to `sink` in order as they arrive.
  virtual SourceOutcome fetch(const std::vector<SourceEntry>& messages, const SourceSink& sink) = 0;

  // Marks the messages for deletion at finish; `on_marked` hears each number
  // the source accepted. kLost when an answer did not come: such a message
  // may be marked all the same.
  virtual SourceOutcome mark_deleted(const std::vector<int>& numbers,
                                     const std::function<void(int number)>& on_marked) = 0;

  // Ends the session, carrying out the deletions. ok only when the source
  // confirmed it; kLost otherwise.
  virtual SourceOutcome finish() = 0;

  // The time the source itself holds for a message (a file's modification
  // time), for a message without a usable Date; nullopt when it has none.
  virtual std::optional<platform::LocalTime> message_time(int /*number*/) const { return std::nullopt; }
};

// A POP3 server through `client` (already initialised with pop3_init): one
// session for everything, pipelined where the server allows it.
std::unique_ptr<MailSource> make_pop3_source(Pop3Client& client, std::string user,
                                             std::string password);

// A POP3 server as the classic mail handling reads it, command by command:
// verify is a login of its own; each open is a new session; list is the
// scan's LIST (numbers only, no ids, no sizes); headers sends "TOP n 0" per
// message and gives each decoded subject (SourceMessage::subject, no text),
// ending at the first failure; fetch sends "RETR n" per message and gives
// the text converted as a classic log keeps it (Shift_JIS lines, LF) and the
// subject decoded as the scan decodes it, so the job can tell whether a
// number still names the message the scan saw; mark_deleted sends "DELE n"
// per message, ending at the first that is not accepted. Every refusal,
// loss or over-long message is an outcome of the call; the job records it.
std::unique_ptr<MailSource> make_classic_pop3_source(Pop3Client& client, std::string user,
                                                     std::string password);

}  // namespace larkspur
