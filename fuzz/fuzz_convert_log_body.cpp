// The log page converter over arbitrary stored bodies: an HTML document
// passes through unchanged up to its first NUL, any other body comes out
// inside the page template.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "site/log_page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string page = larkspur::convert_log_body(in);
  const std::string_view body = in.substr(0, in.find('\0'));
  if (larkspur::is_html_document(body)) {
    if (page != body) std::abort();
  } else if (!page.starts_with(larkspur::kLogPageHead) || !page.ends_with(larkspur::kLogPageTail)) {
    std::abort();
  }
  return 0;
}
