// Search folding through ICU: the same library (and the same Unicode data)
// that the browsers' String.prototype.normalize and toLowerCase use.
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <string>

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

}  // namespace

std::u16string fold_for_search(std::u16string_view text) {
  if (text.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfkc = unorm2_getNFKCInstance(&status);
  if (U_FAILURE(status)) return std::u16string(text);
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
