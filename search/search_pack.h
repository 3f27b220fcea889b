// Packed files of the search index: a file of index lines ("LS.<call>(...);")
// stored deflated, as the one line
//   LS.z("<name>","<hash>","<deflated bytes>");
// The search page loads it with charset "x-user-defined", which reads bytes
// 00-7F as ASCII and 80-FF as U+F780-U+F7FF: the deflated bytes stand in the
// literal as themselves (the page takes each unit's low byte), but for the
// quote, the backslash, CR and LF, which are escaped. No byte becomes a line
// separator (U+2028/9), and no file starts with a byte order mark, which
// would override the charset. <name> is the file's name without ".js" (the
// page waits for that file's inflation). <hash> is the hash of the content,
// then that of the rest of the file as written (the escaped bytes and the
// line's end), in hex: a build compares the first with the previous
// generation's file instead of deflating again, and the second tells whether
// that file is still as written (a rebuild repairs a damaged index).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur {

// How every packed file starts.
inline constexpr std::string_view kSearchPackHead = "LS.z(\"";

// FNV-1a-like, 64 bits, eight bytes a step (a build hashes every byte of the
// index); the same on every platform. Each piece added is closed, so "ab"
// then "c" differs from "a" then "bc".
class SearchHash {
 public:
  void add(std::string_view bytes);
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

// The SearchHash of `bytes` as one piece.
std::uint64_t search_file_hash(std::string_view bytes);

// The packed file named `name` of `content` (whose search_file_hash is
// `content_hash`), deflated at zlib level `level`; nullopt when zlib fails
// (out of memory).
std::optional<std::string> pack_search_file(std::string_view name, std::string_view content, std::uint64_t content_hash,
                                            int level);

// True when `file` is a packed file named `name` of a content of hash
// `content_hash`, every byte after its header as written.
bool packed_search_file_holds(std::string_view file, std::string_view name, std::uint64_t content_hash);

// The content of a packed file; nullopt when `file` is not one, is damaged,
// or would inflate past any content a build writes.
std::optional<std::string> unpack_search_file(std::string_view file);

}  // namespace larkspur
