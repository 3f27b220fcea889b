// The one platform text function the MIME decoder uses beyond its charset
// conversions: its fixed Japanese texts in Shift_JIS, as the program has
// them, so a fuzz target can check that everything it writes is CP932.
#include "platform/platform.h"

namespace larkspur::platform {

std::string jp(std::string_view utf8_literal) { return utf8_to_sjis(utf8_literal).value_or(std::string{}); }

}  // namespace larkspur::platform
