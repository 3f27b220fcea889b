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

}  // namespace

bool detail::append_os_cp932(std::string& out, char32_t code) {
  if (code > 0xFFFF) return false;  // CP932 has nothing beyond the BMP
  const wchar_t unit = static_cast<wchar_t>(code);
  char bytes[4];
  BOOL used_default = FALSE;
  const int size =
      WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, &unit, 1, bytes, sizeof bytes, nullptr, &used_default);
  if (size <= 0 || used_default) return false;
  out.append(bytes, static_cast<std::size_t>(size));
  return true;
}

bool detail::os_decode(const MailCharset& charset, std::string_view bytes,
                       const std::function<void(std::u32string_view)>& take) {
  if (bytes.empty()) return true;
  const int in_size = static_cast<int>(bytes.size());
  const int size =
      MultiByteToWideChar(charset.code_page, MB_ERR_INVALID_CHARS, bytes.data(), in_size, nullptr, 0);
  if (size <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(charset.code_page, MB_ERR_INVALID_CHARS, bytes.data(), in_size, wide.data(),
                          size) != size) {
    return false;
  }
  // Handed on in pieces, so that the text never exists as code points whole.
  constexpr std::size_t kPieceCodes = 1 << 16;
  std::u32string codes;
  for (std::size_t at = 0; at < wide.size(); ++at) {
    const char32_t unit = static_cast<char16_t>(wide[at]);
    char32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < wide.size()) {
      const char32_t low = static_cast<char16_t>(wide[at + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++at;
      }
    }
    codes += code;
    if (codes.size() == kPieceCodes) {
      take(codes);
      codes.clear();
    }
  }
  take(codes);
  return true;
}

}  // namespace larkspur::platform
