// The one text conversion the search's log reading needs, for the fuzz
// targets: each byte as the code unit of its value (the conversion itself is
// the platform's and is not what is fuzzed here).
#include "platform/platform.h"

namespace larkspur::platform {

std::u16string sjis_to_utf16_display(std::string_view sjis) {
  std::u16string out;
  for (char c : sjis) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

}  // namespace larkspur::platform
