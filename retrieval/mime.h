// Extended mail handling (the account option kAccountOptionExtendedMail):
// today's mail shapes turned into the Shift_JIS (CP932) texts the system
// stores. RFC 2047 encoded words in any charset the platform converts, raw
// 8-bit UTF-8 or Shift_JIS headers, base64 and quoted-printable bodies,
// multipart messages, and characters without a CP932 form as HTML numeric
// references. Without the option none of this is used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace larkspur {

// The longest decoded subject kept, in bytes: far beyond any search text
// (255 bytes) and link text (510 bytes shown), short enough that a log's
// first bytes always tell whether it is an extended one.
inline constexpr std::size_t kMaxExtendedSubjectBytes = 500;

// The unfolded raw value of the first header field `name` (case-insensitive,
// without the colon) in `header_block` (lines ended by LF or CR LF; the
// block ends at the first empty line or the end), without the blanks after
// the colon; empty when absent.
std::string header_field(std::string_view header_block, std::string_view name);

// `text` without the blanks (space, tab, CR, LF) at either end.
std::string_view trim_blanks(std::string_view text);

// The decoded subject of a message whose header block is `header_block`:
// what the lists' search texts are matched against and what a log's first
// line holds. Shift_JIS (CP932), no line break or other control character,
// text as written (no markup escaping; characters without a CP932 form as
// numeric references "&#x1F600;"), blanks at either end removed, at most
// kMaxExtendedSubjectBytes bytes (cut between characters).
std::string extended_subject(std::string_view header_block);

// The message text a log stores for the whole message `raw` (as retrieved:
// dot-unstuffed lines, each ended by LF or CR LF), in Shift_JIS (CP932), to
// follow the subject and three LF (log_file_content): kExtendedLogMark, the
// message's header fields decoded one per line, an empty line, and an HTML
// page of the message (starting "<HTML>", so the page is written as it is):
// text parts escaped with their addresses linked, HTML parts sanitized, the
// attachments listed by name and size but not stored. No NUL, no CR.
std::string extended_log_text(std::string_view raw);

}  // namespace larkspur
