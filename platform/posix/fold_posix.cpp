// Search folding through ICU: the same library (and the same Unicode data)
// that the browsers' String.prototype.normalize and toLowerCase use.
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace larkspur::platform {
namespace {

// Runs an ICU conversion that reports the length it needs, growing the
// buffer once when the first guess was short.
template <typename Convert>
std::u16string run_sized(std::u16string_view text, Convert convert) {
  std::u16string out(text.size() + text.size() / 4 + 16, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = convert(text, out, status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    length = convert(text, out, status);
  }
  if (U_FAILURE(status)) return std::u16string(text);
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::u16string fold_one(const UNormalizer2* nfkc, std::u16string_view text) {
  return run_sized(text, [nfkc](std::u16string_view in, std::u16string& out, UErrorCode& st) {
    return unorm2_normalize(nfkc, reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()),
                            reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &st);
  });
}

// For each unit, the one unit it folds to when the folding of any text made
// of such units is the folding of each of its units; 0 for a unit that
// needs the text around it. A unit qualifies when its NFKC form is one
// unit that starts anew (combining class 0, never the second of a
// composition) and lower-cases to one unit without context, and its
// decomposition starts with such a unit: then no composition and no
// reordering reaches from one unit to the next, and the lower case of the
// text is the lower case of each unit. Made once, from ICU itself, for the
// blocks a Japanese mail is written in (making it costs every process that
// folds text, the search tool's too); any other unit takes the whole way.
const std::vector<char16_t>& units_folding_alone() {
  static const std::vector<char16_t> table = [] {
    std::vector<char16_t> out(0x10000, 0);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfkc = unorm2_getNFKCInstance(&status);
    const UNormalizer2* nfkd = unorm2_getNFKDInstance(&status);
    if (U_FAILURE(status)) return out;
    const auto starts_anew = [nfkc](char16_t unit) {
      UErrorCode st = U_ZERO_ERROR;
      const UChar one[1] = {unit};
      return unorm2_getCombiningClass(nfkc, unit) == 0 && unorm2_quickCheck(nfkc, one, 1, &st) != UNORM_MAYBE &&
             U_SUCCESS(st);
    };
    // Latin, Greek, Cyrillic; punctuation, symbols, CJK symbols and kana;
    // full-width and half-width forms. The unified ideographs (4E00-9FFF)
    // are themselves.
    for (std::uint32_t code = 0x4E00; code <= 0x9FFF; ++code) out[code] = static_cast<char16_t>(code);
    for (std::uint32_t code = 1; code < 0x10000; ++code) {
      if (code == 0x500) code = 0x2000;
      if (code == 0x3400) code = 0xFF00;
      if (code == 0xFFF0) break;
      const auto unit = static_cast<char16_t>(code);
      if (!starts_anew(unit)) continue;
      const std::u16string alone(1, unit);
      const std::u16string normal = fold_one(nfkc, alone);
      if (normal.size() != 1 || !starts_anew(normal[0])) continue;
      const std::u16string decomposed = run_sized(alone, [nfkd](std::u16string_view in, std::u16string& o, UErrorCode& st) {
        return unorm2_normalize(nfkd, reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()),
                                reinterpret_cast<UChar*>(o.data()), static_cast<int32_t>(o.size()), &st);
      });
      if (decomposed.empty() || !starts_anew(decomposed[0])) continue;
      if (normal[0] == u'\u03A3') continue;  // capital sigma: its lower case depends on what follows
      UChar lower[4];
      UErrorCode st = U_ZERO_ERROR;
      const UChar in[1] = {normal[0]};
      const int32_t length = u_strToLower(lower, 4, in, 1, "", &st);
      if (U_FAILURE(st) || length != 1) continue;
      out[code] = static_cast<char16_t>(lower[0]);
    }
    return out;
  }();
  return table;
}

}  // namespace

std::u16string fold_for_search(std::u16string_view text) {
  if (text.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfkc = unorm2_getNFKCInstance(&status);
  if (U_FAILURE(status)) return std::u16string(text);
  // Text whose every unit folds on its own folds unit by unit (the index
  // build folds every log of an archive, most of them such text).
  const std::vector<char16_t>& alone = units_folding_alone();
  std::u16string simple(text);
  bool plain = true;
  for (char16_t& u : simple) {
    u = alone[u];
    if (u == 0) {
      plain = false;
      break;
    }
  }
  if (plain) return simple;
  const std::u16string normal = run_sized(text, [nfkc](std::u16string_view in, std::u16string& out, UErrorCode& st) {
    return unorm2_normalize(nfkc, reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()),
                            reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &st);
  });
  return run_sized(normal, [](std::u16string_view in, std::u16string& out, UErrorCode& st) {
    return u_strToLower(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                        reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()), "", &st);
  });
}

}  // namespace larkspur::platform
