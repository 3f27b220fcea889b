// Extended mail handling (the account option kAccountOptionExtendedMail):
// today's mail shapes turned into the Shift_JIS (CP932) texts the system
// stores. RFC 2047 encoded words in any charset the platform converts, raw
// 8-bit UTF-8 or Shift_JIS headers, base64 and quoted-printable bodies,
// multipart messages, and characters without a CP932 form as HTML numeric
// references. Without the option none of this is used.
#pragma once

#include <string>
#include <string_view>

namespace larkspur {

// The unfolded raw value of the first header field `name` (case-insensitive,
// without the colon) in `header_block` (lines ended by LF or CR LF; the
// block ends at the first empty line or the end); empty when absent.
std::string header_field(std::string_view header_block, std::string_view name);

// The decoded subject of a message whose header block is `header_block`:
// what the lists' search texts are matched against and what a log's first
// line holds. Shift_JIS (CP932), no line break, text as written (no markup
// escaping).
std::string extended_subject(std::string_view header_block);

// The message text a log stores for the whole message `raw` (as retrieved:
// dot-unstuffed lines, each ended by LF), in Shift_JIS (CP932).
std::string extended_log_text(std::string_view raw);

}  // namespace larkspur
