// Copying by pattern, built on the other file operations of the layer, so it
// is the same on every system.
#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::platform {

int copy_matching(std::string_view pattern, std::string_view dest_folder) {
  const std::size_t last = detail::sjis_last_separator(pattern);
  const std::string source_prefix(
      last == std::string_view::npos ? std::string_view{} : pattern.substr(0, last + 1));
  std::string dest_prefix(dest_folder);
  if (!dest_prefix.empty() && !detail::sjis_ends_with_separator(dest_prefix)) dest_prefix += '\\';
  int copied = 0;
  for (const std::string& name : find_files(pattern)) {
    const auto data = read_file(source_prefix + name);
    if (data && write_file_fast(dest_prefix + name, *data)) ++copied;
  }
  return copied;
}

}  // namespace larkspur::platform
