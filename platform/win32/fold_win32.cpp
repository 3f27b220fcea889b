// Search folding through Windows' own Unicode data: NormalizeString (NFKC)
// and LCMapStringEx (lower case, invariant locale).
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace larkspur::platform {

std::u16string fold_for_search(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* in = reinterpret_cast<LPCWSTR>(text.data());
  const int in_length = static_cast<int>(text.size());
  // NormalizeString's estimate may fall short; it says so, with a better one.
  int size = NormalizeString(NormalizationKC, in, in_length, nullptr, 0);
  std::u16string normal;
  for (int attempt = 0; attempt < 4 && size > 0; ++attempt) {
    normal.assign(static_cast<std::size_t>(size), u'\0');
    const int length = NormalizeString(NormalizationKC, in, in_length, reinterpret_cast<LPWSTR>(normal.data()), size);
    if (length > 0) {
      normal.resize(static_cast<std::size_t>(length));
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      normal.assign(text);  // an unpaired surrogate: keep the text as it is
      break;
    }
    size = -length;
    normal.clear();
  }
  if (normal.empty()) normal.assign(text);
  const auto* source = reinterpret_cast<LPCWSTR>(normal.data());
  const int source_length = static_cast<int>(normal.size());
  const int lower_size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, source, source_length, nullptr, 0,
                                       nullptr, nullptr, 0);
  if (lower_size <= 0) return normal;
  std::u16string lower(static_cast<std::size_t>(lower_size), u'\0');
  const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, source, source_length,
                                    reinterpret_cast<LPWSTR>(lower.data()), lower_size, nullptr, nullptr, 0);
  if (written <= 0) return normal;
  lower.resize(static_cast<std::size_t>(written));
  return lower;
}

}  // namespace larkspur::platform
