#include "search/search_pack.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace larkspur {

void SearchHash::add(std::string_view bytes) {
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    hash_ = (hash_ ^ word) * 0x100000001b3ull;
    hash_ ^= hash_ >> 29;
  }
  for (; i < bytes.size(); ++i) hash_ = (hash_ ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ull;
  hash_ = (hash_ ^ 0xFF) * 0x100000001b3ull;  // ends the piece
}

std::uint64_t search_file_hash(std::string_view bytes) {
  SearchHash hash;
  hash.add(bytes);
  return hash.value();
}

namespace {

// The most a packed file may inflate to: a chunk of texts of huge messages
// is far below; a damaged file cannot make a reader allocate without end.
constexpr std::size_t kMaxUnpackedBytes = std::size_t{1} << 30;
// The two hashes of the header, each this many hex digits.
constexpr std::size_t kHexDigits = 16;

std::string hex_of(std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  return out;
}

// Raw deflate (no zlib header: what DecompressionStream("deflate-raw") reads).
std::optional<std::string> deflate_bytes(std::string_view bytes, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

std::optional<std::string> inflate_bytes(std::string_view bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  int result = Z_OK;
  while (result == Z_OK) {
    const std::size_t have = out.size();
    if (have >= kMaxUnpackedBytes) break;
    out.resize(have + std::max<std::size_t>(bytes.size() * 3, 1 << 16));
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + have);
    stream.avail_out = static_cast<uInt>(out.size() - have);
    result = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in != 0) result = Z_OK;  // wanted more room
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END || stream.avail_in != 0) return std::nullopt;
  return out;
}

// The header of a packed file: its name and hashes (as written), and where
// its deflated bytes start.
struct PackedHead {
  std::string_view name;
  std::string_view hash;
  std::size_t bytes_at = 0;
};
std::optional<PackedHead> packed_head(std::string_view file) {
  if (!file.starts_with(kSearchPackHead)) return std::nullopt;
  PackedHead head;
  const std::size_t name_end = file.find('"', kSearchPackHead.size());
  if (name_end == std::string_view::npos || file.substr(name_end).substr(0, 3) != "\",\"") return std::nullopt;
  head.name = file.substr(kSearchPackHead.size(), name_end - kSearchPackHead.size());
  const std::size_t hash_end = file.find('"', name_end + 3);
  if (hash_end == std::string_view::npos || file.substr(hash_end).substr(0, 3) != "\",\"") return std::nullopt;
  head.hash = file.substr(name_end + 3, hash_end - name_end - 3);
  head.bytes_at = hash_end + 3;
  return head;
}

}  // namespace

std::optional<std::string> pack_search_file(std::string_view name, std::string_view content, std::uint64_t content_hash,
                                            int level) {
  const std::optional<std::string> deflated = deflate_bytes(content, level);
  if (!deflated) return std::nullopt;
  std::string out;
  out.reserve(deflated->size() + deflated->size() / 64 + 64);
  out += kSearchPackHead;
  out += name;
  out += "\",\"" + hex_of(content_hash);
  const std::size_t written_hash_at = out.size();
  out += hex_of(0) + "\",\"";
  const std::size_t bytes_at = out.size();
  for (const char c : *deflated) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  out += "\");\n";
  const std::string written = hex_of(search_file_hash(std::string_view(out).substr(bytes_at)));
  out.replace(written_hash_at, written.size(), written);
  return out;
}

bool packed_search_file_holds(std::string_view file, std::string_view name, std::uint64_t content_hash) {
  const std::optional<PackedHead> head = packed_head(file);
  return head && head->name == name && head->hash.size() == 2 * kHexDigits &&
         head->hash.substr(0, kHexDigits) == hex_of(content_hash) &&
         head->hash.substr(kHexDigits) == hex_of(search_file_hash(file.substr(head->bytes_at)));
}

std::optional<std::string> unpack_search_file(std::string_view file) {
  const std::optional<PackedHead> head = packed_head(file);
  if (!head) return std::nullopt;
  std::string deflated;
  deflated.reserve(file.size() - head->bytes_at);
  std::size_t i = head->bytes_at;
  for (; i < file.size() && file[i] != '"'; ++i) {
    if (file[i] != '\\') {
      deflated += file[i];
      continue;
    }
    if (++i >= file.size()) return std::nullopt;
    const char e = file[i];
    deflated += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
  }
  if (file.substr(i) != "\");\n") return std::nullopt;
  return inflate_bytes(deflated);
}

}  // namespace larkspur
