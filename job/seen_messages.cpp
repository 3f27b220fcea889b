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
// subjects come out differently, so that they are decoded anew).
std::string cache_heading(std::string_view account) {
  std::string heading = "scan-cache 1 account ";
  for (char ch : account) heading += (ch == '\n' || ch == '\r') ? ' ' : ch;
  return heading;
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

std::string stored_ids_path(std::string_view list_name) {
  return list_folder(list_name) + "\\" + std::string(kStoredIdsFile);
}

}  // namespace

bool usable_message_id(std::string_view id) {
  if (id.empty() || id.size() > kMaxMessageIdBytes) return false;
  for (unsigned char ch : id) {
    if (ch < 0x21 || ch > 0x7E) return false;
  }
  return true;
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
  const std::string heading = cache_heading(account);
  bool first = true;
  bool ours = false;
  each_line(*text, [&](std::string_view line) {
    if (first) {
      first = false;
      ours = line == heading;
      return;
    }
    if (!ours) return;
    const std::size_t tab = line.find(kSeparator);
    if (tab == std::string_view::npos || !usable_message_id(line.substr(0, tab))) return;
    cache[std::string(line.substr(0, tab))] = std::string(line.substr(tab + 1));
  });
  return cache;
}

bool write_scan_cache(std::string_view account, const ScanCache& cache) {
  std::string text = cache_heading(account) + "\n";
  for (const auto& [id, subject] : cache) {
    text += id;
    text += kSeparator;
    text += one_line(subject);
    text += '\n';
  }
  return platform::write_file_fast(kScanCacheFile, text);
}

std::set<std::string> read_stored_ids(std::string_view list_name) {
  std::set<std::string> ids;
  const std::optional<std::string> text = platform::read_file(stored_ids_path(list_name));
  if (!text) return ids;
  each_line(*text, [&ids](std::string_view line) {
    if (usable_message_id(line)) ids.emplace(line);
  });
  return ids;
}

bool write_stored_ids(std::string_view list_name, const std::set<std::string>& ids) {
  std::string text;
  for (const std::string& id : ids) {
    text += id;
    text += '\n';
  }
  return platform::write_file_atomic(stored_ids_path(list_name), text);
}

}  // namespace larkspur
