// The two settings records, byte for byte as they lie on disk, and the log
// file format. Each record is the whole content of its own file; it is read
// whole into a zeroed record (a short file leaves zeros) and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace larkspur {

// Limits the system holds to everywhere.
inline constexpr int kMaxLists = 30;              // lists in LKset\ and in every table of lists
inline constexpr std::size_t kMaxAccountField = 79;  // bytes the account dialog keeps per field
inline constexpr std::size_t kMaxSearchText = 255;   // bytes of a search text and of a list name

// ------------------------------------------------------------ AccountRecord
// Bits of AccountRecord::options.
// Extended mail handling: any charset and MIME shape, UIDL-based scan with no
// scan limit, each message stored once per list, pages safe from markup in mail.
inline constexpr std::int32_t kAccountOptionExtendedMail = 1;

// File "pop3mail\<account_name>.stf", exactly 1028 bytes:
//   0    256  account_name   NUL-terminated Shift_JIS
//   256  256  server
//   512  256  user_name
//   768  256  password       (plain text)
//   1024 4    options        int32 LE, bit flags (kAccountOption*); 0 = the
//                             classic mail handling, and every record written
//                             before the flags existed reads as 0
struct AccountRecord {
  static constexpr std::size_t kSize = 1028;
  static constexpr std::size_t kFieldWidth = 256;
  static constexpr std::size_t kAccountNameOffset = 0;
  static constexpr std::size_t kServerOffset = 256;
  static constexpr std::size_t kUserNameOffset = 512;
  static constexpr std::size_t kPasswordOffset = 768;
  static constexpr std::size_t kOptionsOffset = 1024;

  std::string account_name;  // each at most 255 bytes when encoded
  std::string server;
  std::string user_name;
  std::string password;
  std::int32_t options = 0;

  // Exactly kSize bytes; a text longer than 255 bytes is cut at 255.
  std::string encode() const;
  // Reads the first kSize bytes of `bytes` into a zeroed record: missing bytes
  // stay zero, each text ends at its first NUL (or at its field's end).
  static AccountRecord decode(std::string_view bytes);
};

// --------------------------------------------------------------- ListRecord
// File "LKset\<name>.stf", exactly 320 bytes:
//   0    256  search_text         NUL-terminated Shift_JIS
//   256  4    delete_from_server  int32 LE: 1 delete after retrieval, 0 keep
//   260  4    new_mail            int32 LE: nonzero = unseen mail
//   264  56   reserved            zero
struct ListRecord {
  static constexpr std::size_t kSize = 320;
  static constexpr std::size_t kSearchTextOffset = 0;
  static constexpr std::size_t kSearchTextWidth = 256;
  static constexpr std::size_t kDeleteFromServerOffset = 256;
  static constexpr std::size_t kNewMailOffset = 260;
  static constexpr std::size_t kReservedOffset = 264;
  static constexpr std::size_t kReservedWidth = 56;

  std::string search_text;
  std::int32_t delete_from_server = 0;
  std::int32_t new_mail = 0;

  std::string encode() const;
  static ListRecord decode(std::string_view bytes);
};

// ------------------------------------------------------------ Shift_JIS
// True when `text`, read as Shift_JIS characters, holds a single-byte
// character that is one of `single_bytes`. The trail byte of a double-byte
// character is never tested on its own (the 0x5C in ソ is no backslash); a
// lead byte followed by a byte that cannot be a trail byte ("\x81.") is no
// double-byte character, so that following byte is tested.
bool contains_sjis_char(std::string_view text, std::string_view single_bytes);
// The first `max_bytes` bytes of `text`, one byte fewer when the cut would
// leave the lead byte of a double-byte character without its trail byte.
std::string cut_sjis(std::string_view text, std::size_t max_bytes);

// ------------------------------------------------------------------ Paths
// Built by plain concatenation with '\' as in the stored layout.
inline constexpr std::string_view kSetFolder = "set";
inline constexpr std::string_view kListsFolder = "LKset";
inline constexpr std::string_view kAccountFolder = "pop3mail";
inline constexpr std::string_view kHelpPage = "help\\index.html";

std::string list_record_path(std::string_view list_name);  // LKset\<n>.stf
std::string list_folder(std::string_view list_name);       // LKset\<n>
std::string list_web_folder(std::string_view list_name);   // LKset\<n>\web
std::string list_index_page(std::string_view list_name);   // LKset\<n>\web\index.htm
std::string account_record_path(std::string_view account_name);  // pop3mail\<a>.stf

// --------------------------------------------------------------- Log files
// Name: "%02u%02u%02u%02u%02u%02u_" of the local time (the year in full),
// the log number in decimal, ".log" (19990505090503_1.log).
std::string log_file_name(const platform::LocalTime& time, int log_number);
// Content: subject, three LF, then the message text as retrieved (each line
// already ended by LF).
std::string log_file_content(std::string_view subject, std::string_view message_text);

// The first line of the message text of a log stored under extended mail
// handling, right after the subject's three LF. Such a log's message text is
// a header block of decoded fields, each on one line, then one empty line,
// then a whole HTML page built from the message that holds nothing able to
// run; the pages take their body from past that empty line and show the
// subject escaped.
inline constexpr std::string_view kExtendedLogMark = "X-Larkspur-Log: extended\n";

}  // namespace larkspur
