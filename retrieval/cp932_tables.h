// Tables of the mail decoder written by scripts/gen-cp932-tables: the
// double-byte codes CP932 assigns, and the Unicode emoji of the mobile
// carriers' Shift_JIS pictographs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace larkspur::cp932_tables {

// The trail bytes `first`..`last` after `lead` are assigned codes (the
// user-defined area F040-F9FC is not among them). Sorted by lead and first.
struct Cp932Run {
  unsigned char lead;
  unsigned char first;
  unsigned char last;
};
extern const Cp932Run kAssignedRuns[];
extern const std::size_t kAssignedRunCount;

// A carrier's pictograph code (docomo, au or SoftBank Shift_JIS) and the
// emoji it is in Unicode: one code point, or two (`second` 0 when one).
// Sorted by code.
struct CarrierEmoji {
  std::uint16_t code;
  char32_t first;
  char32_t second;
};
extern const CarrierEmoji kCarrierEmoji[];
extern const std::size_t kCarrierEmojiCount;

}  // namespace larkspur::cp932_tables
