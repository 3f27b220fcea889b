// Portable pieces of the mail charset conversion (platform::charset_to_sjis)
// that both builds share, so that they agree on which charsets they know and
// on every byte they give for a character.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::platform::detail {

// A MIME charset both builds convert: its name for iconv and its Windows
// code page.
struct MailCharset {
  const char* iconv_name;
  unsigned code_page;
};

// The charset named `name` (any ASCII case, surrounding blanks and quotes
// ignored); nullopt when it is not one of the table.
std::optional<MailCharset> find_mail_charset(std::string_view name);

// Appends the CP932 form of `code` when it is one of the characters on which
// the platforms' mappings differ (the JIS forms of 〜 − ‖ — ¢ £ ¬, which
// Windows refuses or turns into '?', and ¥ ‾, which iconv turns into ASCII
// \ and ~), and returns true; false (nothing appended) for every other code.
bool append_cp932_fixup(std::string& out, char32_t code);

// Appends "&#x" + upper-case hex digits without leading zeros + ";".
void append_numeric_reference(std::string& out, char32_t code);

}  // namespace larkspur::platform::detail
