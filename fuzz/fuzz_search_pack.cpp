// The search index's packed files: any bytes read as one are taken apart
// without reading past them (and inflate to a bounded size); any content
// packed reads back as itself, and the file is found as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "search/search_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  (void)larkspur::unpack_search_file(in);
  (void)larkspur::packed_search_file_holds(in, "t0", 0);
  // The input as the escaped bytes of a packed file.
  (void)larkspur::unpack_search_file(std::string(larkspur::kSearchPackHead) + "t0\",\"0\",\"" + std::string(in));

  const std::uint64_t hash = larkspur::search_file_hash(in);
  const auto file = larkspur::pack_search_file("t0", in, hash, 1);
  if (!file || larkspur::unpack_search_file(*file) != in || !larkspur::packed_search_file_holds(*file, "t0", hash)) {
    std::abort();
  }
  // The packed file with a byte changed (where and how, by the input's hash).
  std::string damaged = *file;
  damaged[hash % damaged.size()] ^= static_cast<char>(1 + (hash >> 32) % 255);
  (void)larkspur::unpack_search_file(damaged);
  return 0;
}
