// What extended mail handling (kAccountOptionExtendedMail) remembers between
// receive jobs, in files of its own whose names no search of the system
// matches:
// - the scan cache "~scan-cache.dat" in the working folder: the decoded
//   subject of every message of the account's mailbox scanned before, by its
//   id, so that only new messages are read with TOP;
// - "~stored-ids.dat" in each list's folder: the ids of the messages stored
//   for that list, so that none is stored twice.
// An id is the message's UIDL id, or, from a server without UIDL, its
// Message-ID (else a digest of its header block). A server may give an id
// again once its message is gone (RFC 1939), so an id alone never says that
// a message is the one seen before: each file keeps the message's size from
// LIST beside its id, and the stored ids also a fingerprint of the message's
// headers, checked before a message is deleted without a second log. Ids are
// printable ASCII (blanks allowed, never a tab or line break), one per line
// in both files, the other fields behind tabs.
//
// The stored ids file also holds each list's message keys (message_key): what
// an import from files knows a message by, noted for every message a job with
// extended mail handling stores, by POP3 or from a file. A key line begins
// with a tab (an empty id): a reader from before keys skips it as a line
// without a usable id, so older files and older readers go on as before.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace larkspur {

inline constexpr std::string_view kScanCacheFile = "~scan-cache.dat";
inline constexpr std::string_view kStoredIdsFile = "~stored-ids.dat";
// Longest id kept: the line limit of a mail header (RFC 5322); UIDL ids are
// at most 70 characters.
inline constexpr std::size_t kMaxMessageIdBytes = 998;

// True when `id` can identify a message: 1 to kMaxMessageIdBytes characters,
// each 0x20..0x7E, not all blanks. A message without such an id is never
// taken for one stored before.
bool usable_message_id(std::string_view id);

// A size from LIST, or kUnknownSize (a server that gave none, or an entry
// written before sizes were kept).
inline constexpr long long kUnknownSize = -1;

// A fingerprint of the message `raw` (or of its header block alone, as TOP
// gives it): 16 hex digits of a digest of its Message-ID, Date, From and
// Subject fields as sent, which no server rewrites. Two different messages
// under one id are told apart by it.
std::string message_fingerprint(std::string_view raw);

// The id of a message from a server without UIDL: its Message-ID without
// surrounding blanks when usable, else "#" and 16 hex digits of a digest of
// its header block (as received by TOP).
std::string fallback_message_id(std::string_view header_block);

// One message the scan read before: its size and decoded subject (Shift_JIS,
// no line break).
struct ScannedBefore {
  long long size = kUnknownSize;
  std::string subject;
};

// What the scan of the account's mailbox found last time.
struct ScanCache {
  // The ids were UIDL ids (false: Message-IDs of a server without UIDL).
  bool by_uidl = true;
  // Whether a cache of this account was read at all.
  bool found = false;
  std::map<std::string, ScannedBefore> messages;
};

// The scan cache kept for `account` (a text naming the account and its
// server); empty (found false) when there is none, it belongs to another
// account, is of an older format or cannot be read.
ScanCache read_scan_cache(std::string_view account);
// Replaces the scan cache. It can always be made again, so it is not forced
// to disk. False when it could not be written.
bool write_scan_cache(std::string_view account, const ScanCache& cache);

// One message stored for a list: its size, fingerprint and the name of its
// log in the list folder, when known (an entry of an older file has none).
struct StoredMessage {
  long long size = kUnknownSize;
  std::string fingerprint;
  std::string log;
};
// id -> the message stored under it.
using StoredIds = std::map<std::string, StoredMessage>;

// Whether the message of `id` and `size` is the one `ids` holds: same id, and
// same size where both are known.
bool holds_message(const StoredIds& ids, const std::string& id, long long size);

// The ids stored for the list; empty when there are none or the file cannot
// be read.
StoredIds read_stored_ids(std::string_view list_name);
// Replaces the list's ids, atomically and forced to disk (callers write it
// only after the logs it records are on disk); the message keys the file
// holds stay. False when it could not be written.
bool write_stored_ids(std::string_view list_name, const StoredIds& ids);
// Adds one entry at the end of the list's ids (a later line for the same id
// replaces an earlier one), not forced to disk: the caller forces
// stored_ids_path with the logs of its batch before it relies on it. False
// when it could not be written.
bool append_stored_id(std::string_view list_name, const std::string& id, const StoredMessage& message);
// The key a message is known by whatever brought it (POP3 or a file): its
// Message-ID without surrounding blanks when usable, else "#" and 16 hex
// digits of a digest of the whole message `raw`, read with every CR before an
// LF left out (so a file with CR LF line ends and the same message as
// retrieved give one key).
std::string message_key(std::string_view raw);

// A message noted by its key: the name of its log in the list folder, and
// its message_fingerprint (empty in a line that has none).
struct KeyedMessage {
  std::string log;
  std::string fingerprint;
};
// The message keys noted for the list.
using StoredKeys = std::unordered_map<std::string, KeyedMessage>;
// Empty when there are none or the file cannot be read. A torn last line is
// no key. Without `details` only the keys are kept (logs and fingerprints
// empty): what an import needs, at a third of the memory.
StoredKeys read_stored_keys(std::string_view list_name, bool details = true);
// The keys alone, as a set: what an import asks of them (whether a key is
// noted), at about half the memory of read_stored_keys without details.
std::unordered_set<std::string> read_stored_key_names(std::string_view list_name);
// Adds the key of a message whose log is written ("TAB key TAB log TAB
// fingerprint"), as append_stored_id does (not forced to disk; the caller
// forces stored_ids_path with its logs). False when it could not be written.
bool append_stored_key(std::string_view list_name, std::string_view key, const KeyedMessage& message);

// "LKset\<list>\~stored-ids.dat".
std::string stored_ids_path(std::string_view list_name);

}  // namespace larkspur
