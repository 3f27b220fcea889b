// The subject converter over arbitrary bytes, alone and after encoded-word
// decoding, as the client applies it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (larkspur::jis_to_sjis_subject(in).size() > in.size()) std::abort();
  const std::string decoded = larkspur::decode_encoded_words(in);
  if (larkspur::jis_to_sjis_subject(decoded).size() > decoded.size()) std::abort();
  return 0;
}
