#include "job/seen_messages.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/platform.h"
#include "retrieval/mime.h"
#include "settings/store.h"

namespace larkspur {

namespace {

constexpr char kSeparator = '\t';

// The first line of the scan cache: its format and whose mailbox it
// describes. A cache of another account (or server) is not used, as ids are
// unique per mailbox only; nor one of another format (raise the number when
// subjects come out differently, so that they are decoded anew). Format 2
// keeps each message's size and says which kind of id the cache holds.
constexpr std::string_view kCacheFormat = "scan-cache 2 ";
constexpr std::string_view kByUidl = "uidl";
constexpr std::string_view kByMessageId = "message-id";

std::string cache_owner(std::string_view account) {
  std::string owner = " account ";
  for (char ch : account) owner += (ch == '\n' || ch == '\r') ? ' ' : ch;
  return owner;
}

// "12345" -> 12345; kUnknownSize for anything but 1 to 15 digits.
long long size_value(std::string_view text) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return kUnknownSize;
  }
  long long value = 0;
  for (char ch : text) value = value * 10 + (ch - '0');
  return value;
}

// The field of a tab-separated line before the next tab; the line keeps the
// rest.
std::string_view take_field(std::string_view& line) {
  const std::size_t tab = line.find(kSeparator);
  const std::string_view field = line.substr(0, tab);
  line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
  return field;
}

std::string one_line(std::string_view text) {
  std::string line(text);
  for (char& ch : line) {
    if (ch == '\n' || ch == '\r') ch = ' ';
  }
  return line;
}

// Calls on_line for each line of `text` (LF-ended, the last one maybe not).
template <typename OnLine>
void each_line(std::string_view text, OnLine on_line) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    on_line(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// FNV-1a, 64 bits: a stable digest on every platform (std::hash is not).
std::uint64_t digest(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

std::string stored_ids_path(std::string_view list_name) {
  return list_folder(list_name) + "\\" + std::string(kStoredIdsFile);
}

bool usable_message_id(std::string_view id) {
  if (id.empty() || id.size() > kMaxMessageIdBytes) return false;
  bool printable = false;
  for (unsigned char ch : id) {
    if (ch < 0x20 || ch > 0x7E) return false;
    printable = printable || ch != ' ';
  }
  return printable;
}

std::string message_fingerprint(std::string_view raw) {
  std::string fields;
  for (std::string_view name : {"Message-ID", "Date", "From", "Subject"}) {
    fields += trim_blanks(header_field(raw, name));
    fields += '\n';
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest(fields)));
  return hex;
}

bool holds_message(const StoredIds& ids, const std::string& id, long long size) {
  const auto entry = ids.find(id);
  if (entry == ids.end()) return false;
  return entry->second.size == kUnknownSize || size == kUnknownSize || entry->second.size == size;
}

std::string fallback_message_id(std::string_view header_block) {
  const std::string message_id(trim_blanks(header_field(header_block, "Message-ID")));
  if (usable_message_id(message_id)) return message_id;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest(header_block)));
  return "#" + std::string(hex);
}

ScanCache read_scan_cache(std::string_view account) {
  ScanCache cache;
  const std::optional<std::string> text = platform::read_file(kScanCacheFile);
  if (!text) return cache;
  const std::string owner = cache_owner(account);
  bool first = true;
  each_line(*text, [&](std::string_view line) {
    if (first) {
      // "scan-cache 2 uidl account ..." or "scan-cache 2 message-id account ..."
      first = false;
      if (!line.starts_with(kCacheFormat)) return;
      line.remove_prefix(kCacheFormat.size());
      for (const std::string_view kind : {kByUidl, kByMessageId}) {
        if (line.starts_with(kind) && line.substr(kind.size()) == owner) {
          cache.found = true;
          cache.by_uidl = kind == kByUidl;
        }
      }
      return;
    }
    if (!cache.found) return;
    const std::string_view id = take_field(line);
    const long long size = size_value(take_field(line));
    if (!usable_message_id(id)) return;
    cache.messages[std::string(id)] = {size, std::string(line)};
  });
  if (!cache.found) cache.messages.clear();
  return cache;
}

bool write_scan_cache(std::string_view account, const ScanCache& cache) {
  std::string text(kCacheFormat);
  text += cache.by_uidl ? kByUidl : kByMessageId;
  text += cache_owner(account) + "\n";
  for (const auto& [id, message] : cache.messages) {
    text += id;
    text += kSeparator;
    text += std::to_string(message.size);
    text += kSeparator;
    text += one_line(message.subject);
    text += '\n';
  }
  return platform::write_file_fast(kScanCacheFile, text);
}

std::string message_key(std::string_view raw) {
  const std::string message_id(trim_blanks(header_field(raw, "Message-ID")));
  if (usable_message_id(message_id)) return message_id;
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a, as digest()
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    hash ^= static_cast<unsigned char>(raw[i]);
    hash *= 0x100000001b3ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return "#" + std::string(hex);
}

StoredIds read_stored_ids(std::string_view list_name) {
  StoredIds ids;
  std::optional<std::string> text = platform::read_file(stored_ids_path(list_name));
  if (!text) return ids;
  // A last line without its LF is what a writer killed while appending left.
  text->erase(text->rfind('\n') == std::string::npos ? 0 : text->rfind('\n') + 1);
  each_line(*text, [&ids](std::string_view line) {
    // "id" (older files) or "id TAB size TAB fingerprint TAB log".
    const std::string_view id = take_field(line);
    if (!usable_message_id(id)) return;
    StoredMessage& message = ids[std::string(id)];
    message.size = size_value(take_field(line));
    message.fingerprint = std::string(take_field(line));
    message.log = std::string(take_field(line));
  });
  return ids;
}

namespace {

void append_entry(std::string& text, const std::string& id, const StoredMessage& message) {
  text += id;
  if (message.size != kUnknownSize || !message.fingerprint.empty() || !message.log.empty()) {
    text += kSeparator;
    text += std::to_string(message.size);
    text += kSeparator;
    text += message.fingerprint;
    text += kSeparator;
    text += message.log;
  }
  text += '\n';
}

// The whole key lines of the file's text (see message_key), each with its LF.
std::string key_lines(std::string_view text) {
  std::string lines;
  each_line(text.substr(0, text.rfind('\n') == std::string_view::npos ? 0 : text.rfind('\n') + 1),
            [&lines](std::string_view line) {
              if (line.starts_with(kSeparator)) {
                lines += line;
                lines += '\n';
              }
            });
  return lines;
}

// Calls on_key(key, rest of the line) for each usable key of the list's ids
// file, in file order.
template <typename OnKey>
void each_stored_key(std::string_view list_name, OnKey on_key) {
  const std::optional<std::string> text = platform::read_file(stored_ids_path(list_name));
  if (!text) return;
  each_line(key_lines(*text), [&on_key](std::string_view line) {
    line.remove_prefix(1);
    const std::string_view key = take_field(line);
    if (usable_message_id(key)) on_key(key, line);
  });
}

}  // namespace

StoredKeys read_stored_keys(std::string_view list_name, bool details) {
  StoredKeys keys;
  each_stored_key(list_name, [&keys, details](std::string_view key, std::string_view line) {
    KeyedMessage& message = keys[std::string(key)];
    if (!details) return;
    message.log = std::string(take_field(line));
    message.fingerprint = std::string(take_field(line));
  });
  return keys;
}

std::unordered_set<std::string> read_stored_key_names(std::string_view list_name) {
  std::unordered_set<std::string> keys;
  each_stored_key(list_name, [&keys](std::string_view key, std::string_view) { keys.emplace(key); });
  return keys;
}

bool append_stored_key(std::string_view list_name, std::string_view key, const KeyedMessage& message) {
  std::string line(1, kSeparator);
  line += key;
  line += kSeparator;
  line += message.log;
  line += kSeparator;
  line += message.fingerprint;
  line += '\n';
  return platform::append_to_file(stored_ids_path(list_name), line);
}

bool write_stored_ids(std::string_view list_name, const StoredIds& ids) {
  std::string text;
  for (const auto& [id, message] : ids) append_entry(text, id, message);
  // Keys are not ids of the mailbox: they stay whatever the mailbox holds.
  if (const std::optional<std::string> old = platform::read_file(stored_ids_path(list_name))) {
    text += key_lines(*old);
  }
  return platform::write_file_atomic(stored_ids_path(list_name), text);
}

bool append_stored_id(std::string_view list_name, const std::string& id, const StoredMessage& message) {
  std::string line;
  append_entry(line, id, message);
  return platform::append_to_file(stored_ids_path(list_name), line);
}

}  // namespace larkspur
