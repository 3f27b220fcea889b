// The text conversions of the full-text search that both builds share.
#include <string>

#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::platform {

std::u16string sjis_to_utf16_display(std::string_view sjis) {
  // sjis_to_utf8_display replaces what is no Shift_JIS, so its result is
  // always valid UTF-8.
  return detail::utf8_to_utf16(sjis_to_utf8_display(sjis)).value_or(std::u16string{});
}

std::optional<std::u16string> utf8_to_utf16(std::string_view utf8) { return detail::utf8_to_utf16(utf8); }

}  // namespace larkspur::platform
