// The store and lock functions the page code links against beyond the file
// functions (memory_files.cpp), stubbed for fuzz targets that call only the
// page code's pure conversions: no list, no account, a site lock that holds
// nothing. Fixed texts stay as written (UTF-8), as no target compares them.
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

}  // namespace platform
}  // namespace larkspur
