// Text and path conversion on Windows, through code page 932 explicitly, so
// nothing depends on the system's ANSI code page.
#include <windows.h>

#include "platform/common/names.h"
#include "platform/platform.h"
#include "platform/win32/native_path.h"

namespace larkspur::platform {

namespace {

constexpr UINT kShiftJis = 932;

std::optional<std::wstring> multibyte_to_wide(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring{};
  const int in_size = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), in_size, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), in_size, wide.data(),
                          size) != size) {
    return std::nullopt;
  }
  return wide;
}

}  // namespace

std::optional<std::wstring> sjis_to_wide(std::string_view sjis) {
  return multibyte_to_wide(kShiftJis, sjis);
}

std::wstring sjis_to_wide_display(std::string_view sjis) {
  return detail::convert_leniently<std::wstring>(
      sjis, [](std::string_view piece) { return sjis_to_wide(piece); }, std::wstring(1, 0xFFFD));
}

std::optional<std::string> wide_to_sjis(std::wstring_view wide) {
  if (wide.empty()) return std::string{};
  const int in_size = static_cast<int>(wide.size());
  // No best fit: a character without its own Shift_JIS code must fail rather
  // than turn into a look-alike ('?' or a different letter) in a file name.
  BOOL used_default = FALSE;
  const int size = WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, wide.data(), in_size,
                                       nullptr, 0, nullptr, &used_default);
  if (size <= 0 || used_default) return std::nullopt;
  std::string sjis(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, wide.data(), in_size, sjis.data(),
                          size, nullptr, &used_default) != size ||
      used_default) {
    return std::nullopt;
  }
  return sjis;
}

std::optional<std::string> sjis_to_utf8(std::string_view sjis) {
  const auto wide = sjis_to_wide(sjis);
  if (!wide) return std::nullopt;
  return detail::utf16_to_utf8(win32::to_u16(*wide));
}

std::optional<std::string> utf8_to_sjis(std::string_view utf8) {
  const auto wide = multibyte_to_wide(CP_UTF8, utf8);
  if (!wide) return std::nullopt;
  return wide_to_sjis(*wide);
}

namespace win32 {

std::optional<std::wstring> native_path(std::string_view sjis_path) {
  if (sjis_path.empty() || sjis_path.find('\0') != std::string_view::npos) return std::nullopt;
  // U+005C is already the native separator; converting the whole path first
  // is what keeps ソ (0x83 0x5C) one character.
  return sjis_to_wide(sjis_path);
}

std::u16string to_u16(std::wstring_view wide) {
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace win32
}  // namespace larkspur::platform
