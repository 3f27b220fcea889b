// What extended mail handling (kAccountOptionExtendedMail) remembers between
// receive jobs, in files of its own whose names no search of the system
// matches:
// - the scan cache "~scan-cache.dat" in the working folder: the decoded
//   subject of every message of the account's mailbox scanned before, by its
//   id, so that only new messages are read with TOP;
// - "~stored-ids.dat" in each list's folder: the ids of the messages stored
//   for that list, so that none is stored twice.
// An id is the message's UIDL id, or, from a server without UIDL, its
// Message-ID (else a digest of its header block). Ids are printable ASCII
// without blanks, one per line in both files.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace larkspur {

inline constexpr std::string_view kScanCacheFile = "~scan-cache.dat";
inline constexpr std::string_view kStoredIdsFile = "~stored-ids.dat";
// Longest id kept: the line limit of a mail header (RFC 5322); UIDL ids are
// at most 70 characters.
inline constexpr std::size_t kMaxMessageIdBytes = 998;

// True when `id` can identify a message: 1 to kMaxMessageIdBytes characters,
// each 0x21..0x7E. A message without such an id is never taken for one
// stored before.
bool usable_message_id(std::string_view id);

// The id of a message from a server without UIDL: its Message-ID without
// surrounding blanks when usable, else "#" and 16 hex digits of a digest of
// its header block (as received by TOP).
std::string fallback_message_id(std::string_view header_block);

// id -> decoded subject (Shift_JIS, no line break).
using ScanCache = std::map<std::string, std::string>;

// The scan cache kept for `account` (a text naming the account and its
// server); empty when there is none, it belongs to another account or cannot
// be read.
ScanCache read_scan_cache(std::string_view account);
// Replaces the scan cache. It can always be made again, so it is not forced
// to disk. False when it could not be written.
bool write_scan_cache(std::string_view account, const ScanCache& cache);

// The ids stored for the list; empty when there are none or the file cannot
// be read.
std::set<std::string> read_stored_ids(std::string_view list_name);
// Replaces the list's ids, atomically and forced to disk (callers write it
// only after the log it records is on disk). False when it could not be
// written.
bool write_stored_ids(std::string_view list_name, const std::set<std::string>& ids);

}  // namespace larkspur
