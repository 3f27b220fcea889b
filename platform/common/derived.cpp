// Platform operations built only from other platform operations, so both
// builds share one definition.
#include <string>
#include <utility>
#include <vector>

#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::platform {

std::vector<std::string> find_files(std::string_view pattern) {
  std::vector<std::string> names;
  for (DirEntry& entry : find_entries(pattern)) {
    if (!entry.is_folder) names.push_back(std::move(entry.name));
  }
  return names;
}

std::string sjis_to_utf8_display(std::string_view sjis) {
  return detail::convert_leniently<std::string>(
      sjis, [](std::string_view piece) { return sjis_to_utf8(piece); },
      std::string("\xEF\xBF\xBD"));  // U+FFFD
}

std::string jp(std::string_view utf8_literal) {
  return utf8_to_sjis(utf8_literal).value_or(std::string{});
}

}  // namespace larkspur::platform
