// Mail charsets on Windows: MultiByteToWideChar decodes the charset's code
// page strictly, and each character is encoded to code page 932 on its own
// without best fit, so a character without a CP932 form becomes a numeric
// reference instead of a look-alike or '?'.
#include <windows.h>

#include "platform/common/mail_charset.h"
#include "platform/platform.h"

namespace larkspur::platform {
namespace {

constexpr UINT kShiftJis = 932;

void append_cp932(std::string& out, char32_t code, std::wstring_view units) {
  if (code < 0x80) {
    out += static_cast<char>(code);
    return;
  }
  if (detail::append_cp932_fixup(out, code)) return;
  if (units.size() == 1) {
    char bytes[4];
    BOOL used_default = FALSE;
    const int size = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, units.data(), 1, bytes,
                                         sizeof bytes, nullptr, &used_default);
    if (size > 0 && !used_default) {
      out.append(bytes, static_cast<std::size_t>(size));
      return;
    }
  }
  detail::append_numeric_reference(out, code);  // also every character beyond U+FFFF
}

}  // namespace

std::optional<std::string> charset_to_sjis(std::string_view charset, std::string_view bytes) {
  const std::optional<detail::MailCharset> known = detail::find_mail_charset(charset);
  if (!known) return std::nullopt;
  if (bytes.empty()) return std::string{};
  const int in_size = static_cast<int>(bytes.size());
  const int size =
      MultiByteToWideChar(known->code_page, MB_ERR_INVALID_CHARS, bytes.data(), in_size, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(known->code_page, MB_ERR_INVALID_CHARS, bytes.data(), in_size, wide.data(),
                          size) != size) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < wide.size();) {
    const char32_t unit = static_cast<char16_t>(wide[at]);
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < wide.size()) {
      const char32_t low = static_cast<char16_t>(wide[at + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_cp932(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00),
                     std::wstring_view(wide).substr(at, 2));
        at += 2;
        continue;
      }
    }
    append_cp932(out, unit, std::wstring_view(wide).substr(at, 1));
    at += 1;
  }
  return out;
}

}  // namespace larkspur::platform
