// The Date field of a message (RFC 5322, with the obsolete forms RFC 822
// mail still carries) as a moment in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace larkspur {

// Seconds from 1970-01-01 00:00 UTC of the date-time `value` (a Date field's
// value: "[Day,] DD Mon YYYY HH:MM[:SS] ZONE", comments and folding blanks
// allowed, a two-digit year read as RFC 5322 says, the zone numeric, UT, GMT,
// a US zone name or missing (taken as UTC)). nullopt when it is no such date
// or names a day that does not exist.
std::optional<std::int64_t> parse_mail_date(std::string_view value);

}  // namespace larkspur
