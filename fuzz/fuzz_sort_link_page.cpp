// Link page sorting over arbitrary menu.htm contents: a sorted page keeps
// the head line, ends with the standard closing text, and grows by at most
// that text and one LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "site/link_sort.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> sorted = larkspur::sort_link_page(in);
  if (!sorted) return 0;
  const std::size_t lf = in.find('\n');
  const std::string_view head = lf == std::string_view::npos ? in : in.substr(0, lf + 1);
  if (!sorted->starts_with(head) || !sorted->ends_with(larkspur::kLinkPageClosing)) std::abort();
  if (sorted->size() > in.size() + larkspur::kLinkPageClosing.size() + 1) std::abort();
  return 0;
}
