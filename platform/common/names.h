// Portable helpers shared by the Win32 and POSIX implementations of the
// platform layer: Shift_JIS byte scanning, file name matching and the NTFS
// name order. Nothing here talks to the operating system.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::platform::detail {

// Length in bytes of the Shift_JIS character whose first byte is `lead`:
// 2 for a lead byte of a double-byte character, 1 otherwise.
std::size_t sjis_char_length(unsigned char lead);

// Position of the last path separator ('\' or '/') of a Shift_JIS path that is
// a character of its own (never the trail byte of ソ, 表, 十...), or npos.
std::size_t sjis_last_separator(std::string_view sjis);

// True when the Shift_JIS path ends with a separator character.
bool sjis_ends_with_separator(std::string_view sjis);

// The Shift_JIS folder part of a path ("" when none) and its last component.
struct SplitPath {
  std::string_view folder;  // without the trailing separator
  std::string_view name;
};
SplitPath split_path(std::string_view path);

// Strict UTF-8 to UTF-16; nullopt on an invalid sequence (overlong forms,
// surrogates, truncated characters).
std::optional<std::u16string> utf8_to_utf16(std::string_view utf8);

// UTF-16 to UTF-8; nullopt on an unpaired surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view utf16);

// Appends the UTF-8 form of the code point `code` (at most U+10FFFF) to `out`.
void append_utf8(std::string& out, char32_t code);

// The upper-case form of one UTF-16 code unit, as an NTFS volume's case table
// gives it, for every letter a Shift_JIS name can hold (ASCII, Latin-1,
// Greek, Cyrillic, full-width Latin, small Roman numerals, circled letters).
char16_t ntfs_upcase(char16_t unit);

// True when `name` is ordered before `other` in an NTFS directory search:
// by their code units after upper-casing. Names that differ only in case
// (possible on case-sensitive file systems) are then ordered by their raw
// code units, so the order is total and the same on every run.
bool ntfs_name_less(std::u16string_view name, std::u16string_view other);

// True when the file name `name` matches the last component of a search
// pattern. '*' stands for any run of characters (possibly empty), every other
// character matches itself ignoring case as ntfs_upcase does. "*" and "*.*"
// match every name. There are no other wildcards: "*.stf" matches exactly
// the names ending in ".stf" (never "x.stfx", as an 8.3 alias would on
// Windows).
bool name_matches(std::u16string_view pattern, std::u16string_view name);

// Lenient conversion of Shift_JIS for display: converts with `strict` (a
// function from a Shift_JIS chunk to an optional converted string) where it
// can, and puts `replacement` for each byte that starts no convertible
// character. Never fails.
template <typename Out, typename Strict>
Out convert_leniently(std::string_view sjis, const Strict& strict, const Out& replacement) {
  if (auto whole = strict(sjis)) return *whole;
  Out out;
  std::size_t at = 0;
  while (at < sjis.size()) {
    std::size_t length = sjis_char_length(static_cast<unsigned char>(sjis[at]));
    if (length > sjis.size() - at) length = sjis.size() - at;
    if (auto piece = strict(sjis.substr(at, length))) {
      out += *piece;
      at += length;
    } else {
      // Skip only the first byte: the next one may start a valid character.
      out += replacement;
      at += 1;
    }
  }
  return out;
}

}  // namespace larkspur::platform::detail
