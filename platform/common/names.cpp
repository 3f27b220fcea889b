#include "platform/common/names.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace larkspur::platform::detail {

std::size_t sjis_char_length(unsigned char lead) {
  return is_sjis_lead_byte(lead) ? 2 : 1;
}

std::size_t sjis_last_separator(std::string_view sjis) {
  std::size_t found = std::string_view::npos;
  std::size_t at = 0;
  while (at < sjis.size()) {
    const char c = sjis[at];
    if (c == '\\' || c == '/') found = at;
    at += sjis_char_length(static_cast<unsigned char>(c));
  }
  return found;
}

bool sjis_ends_with_separator(std::string_view sjis) {
  const std::size_t last = sjis_last_separator(sjis);
  return last != std::string_view::npos && last + 1 == sjis.size();
}

SplitPath split_path(std::string_view path) {
  const std::size_t last = sjis_last_separator(path);
  if (last == std::string_view::npos) return {{}, path};
  return {path.substr(0, last), path.substr(last + 1)};
}

std::optional<std::u16string> utf8_to_utf16(std::string_view utf8) {
  // File names are mostly ASCII: their leading ASCII run is widened at once
  // (a directory search converts every name it meets).
  std::size_t at = 0;
  while (at < utf8.size() && static_cast<unsigned char>(utf8[at]) < 0x80) ++at;
  std::u16string out;
  out.reserve(utf8.size());
  out.resize(at);
  for (std::size_t i = 0; i < at; ++i) out[i] = static_cast<char16_t>(utf8[i]);
  while (at < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    std::uint32_t code = 0;
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      code = lead, length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F, length = 2, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F, length = 3, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07, length = 4, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (length > utf8.size() - at) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(utf8[at + i]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    at += length;
  }
  return out;
}

namespace {

enum class Unpaired { kFail, kReplace };

// UTF-16 to UTF-8; an unpaired surrogate fails the conversion or becomes
// U+FFFD.
std::optional<std::string> convert_utf16(std::u16string_view utf16, Unpaired unpaired) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    char32_t code = utf16[at];
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < utf16.size() && utf16[at + 1] >= 0xDC00 &&
        utf16[at + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (utf16[at + 1] - 0xDC00);
      ++at;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      if (unpaired == Unpaired::kFail) return std::nullopt;
      code = kReplacement;
    }
    append_utf8(out, code);
  }
  return out;
}

}  // namespace

std::optional<std::string> utf16_to_utf8(std::u16string_view utf16) {
  return convert_utf16(utf16, Unpaired::kFail);
}

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace larkspur::platform::detail

namespace larkspur::platform {

std::string utf16_to_utf8_replacing(std::u16string_view utf16) {
  return *detail::convert_utf16(utf16, detail::Unpaired::kReplace);
}

}  // namespace larkspur::platform

namespace larkspur::platform::detail {

char16_t ntfs_upcase(char16_t unit) {
  // ASCII, nearly every unit of a file name, without the table walk.
  if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
  struct Range {
    char16_t first, last;
    int shift;
  };
  // Lower-case runs and the distance to their capitals. Within a run every
  // code unit maps; the gaps (U+00F7 '÷', U+03C2 final sigma) are handled
  // below or by splitting the run.
  static constexpr Range kRanges[] = {
      {u'a', u'z', -32},
      {0x00E0, 0x00F6, -32},
      {0x00F8, 0x00FE, -32},
      {0x03B1, 0x03C1, -32},
      {0x03C3, 0x03CB, -32},
      {0x0430, 0x044F, -32},
      {0x0450, 0x045F, -80},
      {0x2170, 0x217F, -16},
      {0x24D0, 0x24E9, -26},
      {0xFF41, 0xFF5A, -32},
  };
  for (const Range& range : kRanges) {
    if (unit >= range.first && unit <= range.last) {
      return static_cast<char16_t>(unit + range.shift);
    }
  }
  if (unit == 0x00FF) return 0x0178;  // ÿ -> Ÿ
  if (unit == 0x03C2) return 0x03A3;  // final sigma -> Σ
  return unit;
}

bool ntfs_name_less(std::u16string_view name, std::u16string_view other) {
  const std::size_t common = std::min(name.size(), other.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t a = ntfs_upcase(name[i]);
    const char16_t b = ntfs_upcase(other[i]);
    if (a != b) return a < b;
  }
  if (name.size() != other.size()) return name.size() < other.size();
  return name < other;
}

bool name_matches(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*" || pattern == u"*.*") return true;
  // The usual pattern, "*" and a fixed end ("*.log"): the name's end is
  // compared once, without the back-tracking below.
  if (pattern.size() > 1 && pattern[0] == u'*' && pattern.find(u'*', 1) == std::u16string_view::npos) {
    const std::u16string_view end = pattern.substr(1);
    if (name.size() < end.size()) return false;
    const std::u16string_view tail = name.substr(name.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
      if (ntfs_upcase(end[i]) != ntfs_upcase(tail[i])) return false;
    }
    return true;
  }
  // Greedy matching with one back-tracking point, the last '*' seen.
  std::size_t p = 0, n = 0;
  std::size_t star = std::u16string_view::npos, star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() && ntfs_upcase(pattern[p]) == ntfs_upcase(name[n])) {
      ++p, ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace larkspur::platform::detail
