// The pieces of the extended mail decoder (retrieval/mime.h) that its files
// share: conversion of any mail text to Shift_JIS, header texts, and the two
// ways a text part or an HTML part becomes safe page markup.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::mime_detail {

// What a text that cannot be converted shows for each character it loses:
// the HTML numeric reference of U+FFFD, like every other character without
// a CP932 form.
inline constexpr std::string_view kReplacement = "&#xFFFD;";

// A literal "&" before "#" in a decoded text, so that every "&#" of a
// decoded text begins a reference that stands for one character (a
// character without a CP932 form, or this "&"), and text such as "&#x3d;"
// keeps showing as written.
inline constexpr std::string_view kLiteralAmpersand = "&#x26;";

// The bytes of base64 text; characters outside the alphabet are skipped, and
// a group cut short by '=' or the end gives the bytes it completes.
std::string base64_decode(std::string_view text);

// Every field of `header_block` on one line "Name: value" with its value
// decoded as decode_header_text does (a line without a colon decoded
// whole), each ended by LF; never an empty line.
std::string decoded_header_lines(std::string_view header_block);

// The byte written as two hexadecimal digits (either case) at `at` and
// `at + 1` of `text`, as after "%" in a URL or "=" in quoted-printable text;
// nullopt when there are not two such digits there.
std::optional<char> hex_byte(std::string_view text, std::size_t at);

// `text` with every `escape` followed by two hexadecimal digits replaced by
// the byte they write ("%41" or "=41" gives "A"); any other byte, an escape
// without its two digits included, is kept as it is.
std::string hex_unescape(std::string_view text, char escape);

// ASCII lower case of `text`.
std::string lower_ascii(std::string_view text);

// True when CP932 assigns a character to the double-byte code `lead`
// `trail` (its user-defined area F040-F9FC excluded).
bool is_cp932_pair(unsigned char lead, unsigned char trail);

// True when `text` is CP932 text: ASCII, half-width katakana and assigned
// double-byte codes only.
bool is_cp932_text(std::string_view text);

// `bytes` as Shift_JIS (CP932), read as the MIME charset `charset` (empty:
// not named). The Japanese charsets are converted here (ISO-2022-JP with
// half-width katakana and the NEC and IBM rows, EUC-JP, Shift_JIS passed
// through); every other charset through the platform. Bytes that do not fit
// their label are taken for the charset they are valid in (UTF-8, UTF-8
// with a few bad bytes, EUC-JP, Shift_JIS, ISO-2022-JP, and Latin text that
// is none of those); what fits none loses its invalid bytes to kReplacement.
// The result is CP932 text (is_cp932_text): the carriers' pictographs
// (their Shift_JIS codes and au's ISO-2022-JP codes) become their Unicode
// emoji as references, any other code CP932 does not assign 〓. A literal
// "&#" is written kLiteralAmpersand + "#". Never fails.
std::string text_to_sjis(std::string_view charset, std::string_view bytes);

// A header field's raw value with its encoded words (RFC 2047, any charset,
// B or Q in either case) and raw 8-bit text decoded to Shift_JIS. Blanks
// between two encoded words are dropped, and adjacent encoded words of one
// charset are decoded as one text, so a character split between them is
// joined. Control characters (line breaks included) become spaces.
std::string decode_header_text(std::string_view value);

// Plain text (as text_to_sjis gives it) as page markup for inside <pre>:
// "<", ">" and "&" escaped (an "&" that begins a numeric reference
// "&#x1F600;" stays, so characters without a CP932 form show as themselves,
// and a literal "&#" written kLiteralAmpersand + "#" shows as written), and
// addresses made into links as the plain page does ("http://", "https://",
// "ftp://", e-mail addresses).
std::string text_to_markup(std::string_view sjis_text);

// HTML (Shift_JIS) cut down to markup that cannot run anything: only known
// harmless elements and attributes survive, re-written with quoted values;
// scripts, frames, objects, forms, event handlers, and addresses other than
// http, https, ftp, mailto and relative ones are dropped; style sheets only
// when they hold nothing that could run or load a script.
std::string sanitize_html(std::string_view sjis_html);

}  // namespace larkspur::mime_detail
