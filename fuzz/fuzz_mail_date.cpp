// The Date field reader over arbitrary field values: it never reads past
// the value, and a date it accepts lies between 1900 and the year 9999 with
// any zone offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/mail_date.h"

namespace {

constexpr std::int64_t kEarliest = -2208988800 - 100 * 3600;  // 1900-01-01 less any offset
constexpr std::int64_t kLatest = 253402300800 + 100 * 3600;   // 10000-01-01 plus any offset

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view value(reinterpret_cast<const char*>(data), size);
  if (const auto utc = larkspur::parse_mail_date(value)) {
    if (*utc < kEarliest || *utc > kLatest) std::abort();
  }
  return 0;
}
