// Portable pieces of the mail charset conversion (platform::charset_to_sjis)
// that both builds share, so that they agree on which charsets they know and
// on every byte they give for a character.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::platform::detail {

// Who turns a charset's bytes into characters: the operating system (iconv,
// MultiByteToWideChar), or the shared decoders here (UTF-8, UTF-7), which
// the two systems would read differently or not at all.
enum class MailDecoder { kOs, kUtf8, kUtf7 };

// A MIME charset both builds convert: its name for iconv, its Windows code
// page, and its decoder.
struct MailCharset {
  const char* iconv_name;
  unsigned code_page;
  MailDecoder decoder = MailDecoder::kOs;
};

// The charset named `name` (any ASCII case, surrounding blanks and quotes
// ignored) through the one table of labels and aliases both builds use;
// nullopt when it is not one of the table.
std::optional<MailCharset> find_mail_charset(std::string_view name);

// Characters of `bytes` decoded by the operating system as `charset` (its
// decoder is MailDecoder::kOs), handed to `take` a piece at a time, in order;
// false when a byte sequence is invalid or has no character (pieces may have
// been taken by then). One per build (posix/, win32/).
bool os_decode(const MailCharset& charset, std::string_view bytes,
               const std::function<void(std::u32string_view)>& take);

// Appends the operating system's CP932 form of `code` (not ASCII, not one
// of the fix-ups) and returns true; false (nothing appended) when it has
// none. One per build (posix/, win32/).
bool append_os_cp932(std::string& out, char32_t code);

// UTF-7 (RFC 2152): nullopt when a shifted run is no UTF-16 text, or a byte
// is not 7-bit.
std::optional<std::u32string> decode_utf7(std::string_view bytes);

// `codes` as CP932: each character by its CP932 code, the fix-ups below, or
// as a numeric reference; a literal "&" before "#" written "&#x26;", so that
// every "&#" of the result begins a reference to a character.
std::string codes_to_sjis(std::u32string_view codes);
// The same, appended to `out`, for `codes` followed by `next` (0: nothing).
void append_codes_sjis(std::string& out, std::u32string_view codes, char32_t next);

// Appends the CP932 form of `code` when it is one of the characters on which
// the platforms' mappings differ (the JIS forms of 〜 − ‖ — ¢ £ ¬, which
// Windows refuses or turns into '?', and ¥ ‾, which iconv turns into ASCII
// \ and ~), and returns true; false (nothing appended) for every other code.
bool append_cp932_fixup(std::string& out, char32_t code);

// Appends "&#x" + upper-case hex digits without leading zeros + ";".
void append_numeric_reference(std::string& out, char32_t code);

}  // namespace larkspur::platform::detail
