// Encoded-word decoding of arbitrary header text: never out of bounds, never
// longer than its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (larkspur::decode_encoded_words(in).size() > in.size()) std::abort();
  std::array<char, 3> out{};
  const int n = larkspur::base64_quad(in.substr(0, 4), out);
  if (n < 0 || n > 3) std::abort();
  return 0;
}
