// The message line converter over arbitrary bytes: bounded output, and a
// text without ESC passes unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "retrieval/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string out = larkspur::jis_to_sjis_line(in);
  if (out.size() > in.size()) std::abort();
  if (in.find('\x1B') == std::string_view::npos && out != in) std::abort();
  return 0;
}
