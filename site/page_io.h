// How the site writes its pages. Every page can be regenerated from the logs
// by the full rebuild, so a page is replaced atomically (a failure leaves the
// old page) but need not be forced to disk.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace larkspur::site_detail {

inline bool write_page(std::string_view path, std::string_view bytes) {
  return platform::write_file_fast(path, bytes);
}

}  // namespace larkspur::site_detail
