// Built on the platform layer's file operations alone, so it is the same on
// every system.
#include "tests/support/copy_matching.h"

#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::testing {

int copy_matching(std::string_view pattern, std::string_view dest_folder) {
  namespace detail = platform::detail;
  const std::size_t last = detail::sjis_last_separator(pattern);
  const std::string source_prefix(
      last == std::string_view::npos ? std::string_view{} : pattern.substr(0, last + 1));
  std::string dest_prefix(dest_folder);
  if (!dest_prefix.empty() && !detail::sjis_ends_with_separator(dest_prefix)) dest_prefix += '\\';
  int copied = 0;
  for (const std::string& name : platform::find_files(pattern)) {
    const auto data = platform::read_file(source_prefix + name);
    if (data && platform::write_file_fast(dest_prefix + name, *data)) ++copied;
  }
  return copied;
}

}  // namespace larkspur::testing
