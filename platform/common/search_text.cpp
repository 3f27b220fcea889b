// The text conversions of the full-text search that both builds share.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/common/names.h"
#include "platform/platform.h"

namespace larkspur::platform {
namespace {

// Each single byte's and each double-byte code's unit as the converter maps
// them on its own, made once: the search reads every log of an archive, and
// most text converts from this table without the converter.
class SjisTable {
 public:
  static const SjisTable& get() {
    static const SjisTable table;
    return table;
  }
  std::uint16_t code(char16_t unit) const { return to_sjis_[unit]; }
  char16_t unit(std::uint16_t code) const { return from_sjis_[code]; }
  // Single bytes: the unit, or 0 where the converter must decide.
  char16_t byte(unsigned char b) const { return byte_[b]; }

  static std::u16string convert(std::string_view sjis) {
    // sjis_to_utf8_display replaces what is no Shift_JIS, so its result is
    // always valid UTF-8.
    return detail::utf8_to_utf16(sjis_to_utf8_display(sjis)).value_or(std::u16string{});
  }

 private:
  SjisTable() : to_sjis_(0x10000, 0), from_sjis_(0x10000, 0), byte_(0x100, 0) {
    for (unsigned b = 0x01; b <= 0xDF; ++b) {
      if (b >= 0x80 && b < 0xA1) continue;
      const char bytes[1] = {static_cast<char>(b)};
      const std::u16string unit = convert(std::string_view(bytes, 1));
      if (unit.size() == 1 && unit[0] != 0xFFFD) byte_[b] = unit[0];
    }
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
      if (byte_[b] == 0xFF61 + b - 0xA1) to_sjis_[byte_[b]] = static_cast<std::uint16_t>(b);
    }
    for (unsigned lead = 0x81; lead <= 0xEA; ++lead) {
      if (lead > 0x9F && lead < 0xE0) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const std::u16string unit = convert(std::string_view(bytes, 2));
        if (unit.size() != 1 || unit[0] == 0xFFFD || unit[0] < 0x80) continue;
        const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
        from_sjis_[code] = unit[0];
        if (to_sjis_[unit[0]] == 0) to_sjis_[unit[0]] = code;
      }
    }
  }
  std::vector<std::uint16_t> to_sjis_;
  std::vector<char16_t> from_sjis_;
  std::vector<char16_t> byte_;
};

bool is_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

std::u16string sjis_to_utf16_display(std::string_view sjis) {
  const SjisTable& table = SjisTable::get();
  // At most one unit a byte: written through a pointer, then cut to size
  // (every log of an archive passes here when the index is built).
  std::u16string out(sjis.size(), u'\0');
  char16_t* next = out.data();
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    char16_t unit = 0;
    if (is_lead(b)) {
      if (i + 1 < sjis.size()) unit = table.unit(static_cast<std::uint16_t>(b << 8 | static_cast<unsigned char>(sjis[i + 1])));
      ++i;
    } else {
      unit = table.byte(b);
    }
    // What the table does not know (a NUL, an extension row, a byte that is
    // no Shift_JIS) the converter decides, for the whole text.
    if (unit == 0) return SjisTable::convert(sjis);
    *next++ = unit;
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

std::uint16_t search_sjis_code(char16_t unit) { return SjisTable::get().code(unit); }
char16_t search_sjis_unit(std::uint16_t code) { return SjisTable::get().unit(code); }

std::optional<std::u16string> utf8_to_utf16(std::string_view utf8) { return detail::utf8_to_utf16(utf8); }

}  // namespace larkspur::platform
