// Pure text conversions from incoming mail to Shift_JIS.
//
// Mail arrives as ISO-2022-JP (7-bit JIS with escape sequences); a subject is
// either raw ISO-2022-JP or carries MIME encoded words in base64 whose decoded
// bytes are ISO-2022-JP. Everything the system keeps is Shift_JIS. These
// functions bridge the two. They use no platform service and no global state,
// take any bytes (NULs included) and always stop at the end of their input:
// malformed input (an unclosed encoded word, base64 of odd length, an
// unclosed or odd-length JIS run) never makes them read or write out of
// bounds. No output is ever longer than its input.
//
// Escape sequences recognised (nothing else, ESC ( I included):
//   ESC $ B  1B 24 42  start of a two-byte JIS X 0208 run
//   ESC $ @  1B 24 40  the same, older designation (line converter only)
//   ESC ( B  1B 28 42  back to ASCII
//   ESC ( J  1B 28 4A  back to JIS X 0201 Roman (treated as ASCII)
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace larkspur {

inline constexpr char kEsc = '\x1B';

// Replaces every encoded word of `in` by its decoded bytes and copies every
// other byte unchanged. An encoded word starts with exactly one of
// "=?ISO-2022-JP?B?", "=?iso-2022-jp?B?", "=?iso-2022-jp?b?" and ends at the
// first "?=" found at a multiple of four characters after the opener; the
// base64 in between is decoded group by group with base64_quad. An opener
// without a closer decodes up to the end of the input (a last group shorter
// than four characters counts its missing characters as invalid). Other
// charsets, other spellings and the Q encoding stay as they are. The decoded
// bytes are still ISO-2022-JP.
std::string decode_encoded_words(std::string_view in);

// The value of one base64 character: 'A'..'Z' 0..25, 'a'..'z' 26..51,
// '0'..'9' 52..61, '+' 62, '/' 63, '=' -1, anything else (bytes 0x80 and up
// included, which are negative as signed char) -59.
int base64_value(signed char c);

// Decodes one group of four base64 characters into `out` and returns how many
// bytes it wrote (0 to 3): nothing when the first or second character is
// invalid; one byte when the third is negative ('=' or invalid), two when the
// fourth is. Characters missing from a `four` shorter than 4 count as invalid;
// characters after the fourth are ignored.
int base64_quad(std::string_view four, std::array<char, 3>& out);

// Converts a subject from ISO-2022-JP to Shift_JIS: after ESC $ B every two
// bytes become a Shift_JIS pair (jis_pair_to_sjis, no range check) until
// ESC ( B or ESC ( J; the escape sequences are dropped, every other byte is
// copied. ESC $ @ is not recognised here. A run left open at the end of the
// input ends there; a last single byte of an odd-length run is copied as is.
std::string jis_to_sjis_subject(std::string_view in);

// The JIS X 0208 to Shift_JIS mapping of one pair (j1, j2): writes the two
// Shift_JIS bytes to `out` and returns the first. Example: 30 21 -> 88 9F,
// 24 22 -> 82 A0.
unsigned char jis_pair_to_sjis(unsigned char j1, unsigned char j2,
                               std::array<unsigned char, 2>& out);

// Converts one line of a retrieved message from ISO-2022-JP to Shift_JIS with
// a two-state machine that starts in ASCII on every call. ESC $ B and
// ESC $ @ enter the two-byte state, ESC ( B and ESC ( J leave it; in the
// two-byte state a pair of bytes both in 0x21..0x7E becomes its Shift_JIS
// pair, any other byte is copied and the state stays. The escape sequences
// are dropped. The number of bytes written is the size of the result.
std::string jis_to_sjis_line(std::string_view in);
// The same, appended to `out` (no string of its own per line).
void append_jis_line_as_sjis(std::string& out, std::string_view in);

}  // namespace larkspur
