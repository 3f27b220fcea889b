// The file, store and lock functions the site code links against, stubbed:
// the fuzz targets call only the pure conversions in it, so no file is ever
// read or written and the targets do not depend on the platform layer's build.
#include "platform/platform.h"
#include "settings/store.h"
#include "site/site_lock.h"

namespace larkspur {

SiteLock::SiteLock() = default;
SiteLock::~SiteLock() = default;

std::vector<std::string> enumerate_lists() { return {}; }
std::optional<AccountRecord> read_first_account() { return std::nullopt; }

namespace platform {

std::string jp(std::string_view utf8_literal) { return std::string(utf8_literal); }
std::vector<std::string> find_files(std::string_view) { return {}; }
std::optional<std::string> read_file(std::string_view, std::size_t) { return std::nullopt; }
bool can_read_file(std::string_view) { return false; }
bool create_folder(std::string_view) { return false; }
bool write_file_fast(std::string_view, std::string_view) { return false; }
bool write_file_fast_via(std::string_view, std::string_view, std::string_view) { return false; }
bool delete_file(std::string_view) { return false; }

}  // namespace platform
}  // namespace larkspur
