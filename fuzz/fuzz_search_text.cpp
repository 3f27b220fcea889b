// What the full-text search reads from a stored log, over arbitrary log
// files and arbitrary page text: the visible text of an extended log's page
// never grows past its source (tags and references only shrink), and the
// searched text is the subject, one LF, the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "search/search_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(in[i]) | static_cast<unsigned char>(in[i + 1]) << 8);
  }
  // A block tag may leave one LF where it stood ("<p>" is three units), a
  // reference at most two units (a surrogate pair) for four or more.
  if (larkspur::visible_html_text(units).size() > units.size()) std::abort();

  const std::u16string text = larkspur::search_text(in);
  const std::u16string subject = larkspur::search_subject(in);
  if (text.compare(0, subject.size(), subject) != 0 || text.size() <= subject.size() || text[subject.size()] != u'\n') {
    std::abort();
  }
  return 0;
}
