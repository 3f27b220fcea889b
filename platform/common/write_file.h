// The file writers of platform.h (write_file_atomic, write_file_fast,
// create_file_exclusive) share one procedure: the data goes into the
// temporary "~<name>.tmp" next to the file, which then takes the file's
// place. Its steps that are the same everywhere are in write_file.cpp; each
// platform supplies write_and_move, the part that talks to the OS.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace larkspur::platform::detail {

// Whether the new file may replace an existing one (kOnlyIfAbsent fails when
// the name exists, also when another process creates it meanwhile).
enum class Replace { kAlways, kOnlyIfAbsent };
// Whether the data must be on disk before the file takes its place (so that
// a system crash cannot leave an empty file in place of the old one).
enum class Flush { kToDisk, kNo };

// The temporary "~<name>.tmp" in the folder of the Shift_JIS `path`; empty
// when `path` ends with a separator (names no file).
std::string temporary_path(std::string_view path);

// write_file_fast of `path` through a temporary next to `private_path` (a
// spare or aside file), so that nothing but `path` itself ever appears in
// the folder of `path`.
inline bool write_beside_private(std::string_view path, std::string_view private_path, std::string_view data) {
  return write_file_fast_via(path, temporary_path(private_path), data);
}

// Per platform: writes `data` into `temp_path`, then moves it to `path` as
// `mode` and `flush` say. On any failure the temporary file is removed and
// `path` is left as it was. Called while the caller holds the WriteGuard of
// `path`. False when a path cannot be expressed natively, too.
bool write_and_move(std::string_view temp_path, std::string_view path, std::string_view data,
                    Replace mode, Flush flush);

}  // namespace larkspur::platform::detail
