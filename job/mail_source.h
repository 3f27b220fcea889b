// Where a receive job with extended mail handling takes its mail from: one
// small interface, made for batches, so that the job never speaks a protocol
// itself. POP3 (Pop3MailSource) sits behind it; files and IMAP fit the same
// calls. Every call gives one kind of result (SourceOutcome); the job records
// a failure in one place (job/extended_receive.cpp).
//
// A source is used in this order: open, list, then headers and fetch for the
// messages it needs, mark_deleted for those whose logs are on disk, finish.
// Message numbers are the source's handles for its messages and hold from
// open to finish.
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

// Receives one message's header block or whole text (dot-unstuffed lines,
// each ended by LF), or the outcome that stands for it (refused, too long).
// The text may be moved from. Returning false asks for nothing more.
using SourceSink =
    std::function<bool(int number, const SourceOutcome& outcome, std::string& text)>;

class MailSource {
 public:
  virtual ~MailSource() = default;

  // Opens the session. kNoSession with the reason when that failed; a TLS
  // failure sets tls_failed too.
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

}  // namespace larkspur
