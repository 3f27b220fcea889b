// The reply line reader: whatever the bytes and however they are split, the
// lines it delivers (each with CR LF put back) are exactly the input up to
// its last CR LF; with a small bound, cut lines are flagged and the reader
// stays in step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/pop3_client.h"

namespace {

struct Read {
  std::vector<std::string> lines;
  std::vector<bool> overlong;
};

Read read_all(std::string_view in, std::size_t bound, unsigned seed) {
  larkspur::Pop3LineReader reader(bound);
  Read result;
  while (!in.empty()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t piece = std::min<std::size_t>(in.size(), 1 + (seed >> 16) % 97);
    reader.feed(in.substr(0, piece));
    in.remove_prefix(piece);
    while (auto line = reader.next_line()) {
      result.lines.push_back(*line);
      result.overlong.push_back(reader.overlong());
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned seed = data[0];
  const std::size_t bound = 1 + data[1] % 32;
  const std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);

  const Read whole = read_all(in, larkspur::kMaxReplyBytes, seed);
  std::string joined;
  for (const auto& line : whole.lines) joined += line + "\r\n";
  const std::size_t last = in.rfind("\r\n");
  const std::string_view expected = last == std::string_view::npos ? "" : in.substr(0, last + 2);
  if (joined != expected) std::abort();

  const Read cut = read_all(in, bound, seed + 1);
  if (cut.lines.size() != whole.lines.size()) std::abort();
  for (std::size_t i = 0; i < cut.lines.size(); ++i) {
    const bool too_long = whole.lines[i].size() > bound;
    if (cut.overlong[i] != too_long) std::abort();
    if (cut.lines[i] != whole.lines[i].substr(0, bound)) std::abort();
  }
  return 0;
}
