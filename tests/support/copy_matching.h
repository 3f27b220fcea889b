// Copying files by pattern, for tests that fill one folder from another.
#pragma once

#include <string_view>

namespace larkspur::testing {

// Copies every file matching `pattern` (see platform::find_files) into
// `dest_folder`, each written as by platform::write_file_fast. Returns how
// many files were copied.
int copy_matching(std::string_view pattern, std::string_view dest_folder);

}  // namespace larkspur::testing
