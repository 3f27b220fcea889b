// What the list pages read from a stored log, over arbitrary log files: the
// page's part of the log is a tail of the log's text before its first NUL,
// and the link text is bounded and free of LF and NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "site/list_pages.h"

namespace {

// The most bytes a link text is taken from; escaping in an extended log may
// make each of them at most six ("&quot;").
constexpr std::size_t kLinkTextLimit = 511;
constexpr std::size_t kEscapedLinkTextLimit = 6 * kLinkTextLimit;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  const std::string_view text = in.substr(0, in.find('\0'));
  const std::string_view body = larkspur::log_body_text(in);
  if (body.size() > text.size()) std::abort();
  if (!body.empty() && body.data() != text.data() + (text.size() - body.size())) std::abort();

  const std::string link = larkspur::link_text_from_log(in);
  if (link.size() > (larkspur::is_extended_log(in) ? kEscapedLinkTextLimit : kLinkTextLimit)) std::abort();
  if (link.find('\n') != std::string::npos || link.find('\0') != std::string::npos) std::abort();
  return 0;
}
