// Conversions between the core's Shift_JIS paths and the UTF-16 paths of the
// W functions, shared by the Win32 implementation files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::platform::win32 {

// The UTF-16 path of a Shift_JIS path, converted whole through code page 932
// (so a 0x5C trail byte stays inside its character). nullopt when it cannot
// be converted, is empty or holds a NUL.
std::optional<std::wstring> native_path(std::string_view sjis_path);

// The same path as a null-terminated UTF-16 string of the char16_t kind, for
// the portable name helpers.
std::u16string to_u16(std::wstring_view wide);

}  // namespace larkspur::platform::win32
