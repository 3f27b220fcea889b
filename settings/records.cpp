#include "settings/records.h"

#include <algorithm>
#include <cstdio>

namespace larkspur {

namespace {

// Copies `text` into the zeroed field at `offset`, keeping at least one NUL at
// the field's end, so a text of the full width is cut to width - 1 bytes.
void put_text(std::string& record, std::size_t offset, std::size_t width,
              std::string_view text) {
  const std::size_t length = std::min(text.size(), width - 1);
  record.replace(offset, length, text.substr(0, length));
}

// The text of the field at `offset`: up to its first NUL, or the whole field
// when it holds none. Bytes past the end of `bytes` count as zero.
std::string get_text(std::string_view bytes, std::size_t offset, std::size_t width) {
  if (offset >= bytes.size()) return {};
  std::string_view field = bytes.substr(offset, width);
  const std::size_t end = field.find('\0');
  return std::string(field.substr(0, end));
}

void put_int32(std::string& record, std::size_t offset, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    record[offset + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  }
}

// Little-endian int32 at `offset`; missing bytes count as zero.
std::int32_t get_int32(std::string_view bytes, std::size_t offset) {
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (offset + i < bytes.size()) {
      bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
              << (8 * i);
    }
  }
  return static_cast<std::int32_t>(bits);
}

}  // namespace

std::string AccountRecord::encode() const {
  std::string record(kSize, '\0');
  put_text(record, kAccountNameOffset, kFieldWidth, account_name);
  put_text(record, kServerOffset, kFieldWidth, server);
  put_text(record, kUserNameOffset, kFieldWidth, user_name);
  put_text(record, kPasswordOffset, kFieldWidth, password);
  put_int32(record, kOptionsOffset, options);
  return record;
}

AccountRecord AccountRecord::decode(std::string_view bytes) {
  bytes = bytes.substr(0, std::min(bytes.size(), kSize));
  AccountRecord record;
  record.account_name = get_text(bytes, kAccountNameOffset, kFieldWidth);
  record.server = get_text(bytes, kServerOffset, kFieldWidth);
  record.user_name = get_text(bytes, kUserNameOffset, kFieldWidth);
  record.password = get_text(bytes, kPasswordOffset, kFieldWidth);
  record.options = get_int32(bytes, kOptionsOffset);
  return record;
}

std::string ListRecord::encode() const {
  std::string record(kSize, '\0');
  put_text(record, kSearchTextOffset, kSearchTextWidth, search_text);
  put_int32(record, kDeleteFromServerOffset, delete_from_server);
  put_int32(record, kNewMailOffset, new_mail);
  // The reserved bytes stay zero.
  return record;
}

ListRecord ListRecord::decode(std::string_view bytes) {
  bytes = bytes.substr(0, std::min(bytes.size(), kSize));
  ListRecord record;
  record.search_text = get_text(bytes, kSearchTextOffset, kSearchTextWidth);
  record.delete_from_server = get_int32(bytes, kDeleteFromServerOffset);
  record.new_mail = get_int32(bytes, kNewMailOffset);
  return record;
}

namespace {

// True for a byte that can follow a lead byte as the second byte of a
// double-byte character (0x40..0x7E, 0x80..0xFC). A lead byte followed by
// anything else ('.', ':' and most other ASCII signs) is no character, and
// the byte after it is read as a character of its own.
bool is_sjis_trail_byte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

}  // namespace

bool contains_sjis_char(std::string_view text, std::string_view single_bytes) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (platform::is_sjis_lead_byte(byte) && i + 1 < text.size() &&
        is_sjis_trail_byte(static_cast<unsigned char>(text[i + 1]))) {
      ++i;  // the trail byte belongs to this character, whatever its value
      continue;
    }
    if (single_bytes.find(text[i]) != std::string_view::npos) return true;
  }
  return false;
}

std::string cut_sjis(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = 0;
  while (end < max_bytes) {
    const std::size_t width = platform::is_sjis_lead_byte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end + width > max_bytes) break;
    end += width;
  }
  return std::string(text.substr(0, end));
}

std::string list_record_path(std::string_view list_name) {
  return std::string(kListsFolder) + "\\" + std::string(list_name) + ".stf";
}

std::string list_folder(std::string_view list_name) {
  return std::string(kListsFolder) + "\\" + std::string(list_name);
}

std::string list_web_folder(std::string_view list_name) {
  return list_folder(list_name) + "\\web";
}

std::string list_index_page(std::string_view list_name) {
  return list_web_folder(list_name) + "\\index.htm";
}

std::string account_record_path(std::string_view account_name) {
  return std::string(kAccountFolder) + "\\" + std::string(account_name) + ".stf";
}

std::string log_file_name(const platform::LocalTime& time, int log_number) {
  // Every part at least two digits; the year prints in full, so the names
  // sort by the time of storing.
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02u%02u%02u%02u%02u%02u_",
                static_cast<unsigned>(time.year), static_cast<unsigned>(time.month),
                static_cast<unsigned>(time.day), static_cast<unsigned>(time.hour),
                static_cast<unsigned>(time.minute), static_cast<unsigned>(time.second));
  return stamp + std::to_string(log_number) + ".log";
}

std::string log_file_content(std::string_view subject, std::string_view message_text) {
  std::string content;
  content.reserve(subject.size() + 3 + message_text.size());
  content.append(subject);
  content.append("\n\n\n");
  content.append(message_text);
  return content;
}

}  // namespace larkspur
