// Conversions between the core's Shift_JIS paths and Linux's UTF-8 paths,
// shared by the POSIX implementation files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::platform::posix {

// The native path of a Shift_JIS path: converted whole to UTF-8, then each
// '\' mapped to '/'. nullopt when it cannot be converted or holds a NUL.
std::optional<std::string> native_path(std::string_view sjis_path);

}  // namespace larkspur::platform::posix
