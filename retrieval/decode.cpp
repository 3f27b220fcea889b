#include "retrieval/decode.h"

#include <algorithm>
#include <cstddef>

namespace larkspur {
namespace {

// The only encoded-word openers understood; every other spelling (say an
// upper-case charset with a lower-case 'b') stays as it is, as received.
constexpr std::string_view kOpeners[] = {
    "=?ISO-2022-JP?B?",
    "=?iso-2022-jp?B?",
    "=?iso-2022-jp?b?",
};
constexpr std::string_view kCloser = "?=";

constexpr std::string_view kJisStartB = "\x1B$B";
constexpr std::string_view kJisStartAt = "\x1B$@";
constexpr std::string_view kAsciiB = "\x1B(B";
constexpr std::string_view kRomanJ = "\x1B(J";

// Whether `in` has `what` at position `at` (false near the end: never reads
// past it).
bool has_at(std::string_view in, std::size_t at, std::string_view what) {
  return at <= in.size() && in.substr(at).starts_with(what);
}

bool is_jis_byte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

std::size_t opener_at(std::string_view in, std::size_t at) {
  if (in[at] != '=') return 0;  // fast path: nearly every byte
  for (std::string_view opener : kOpeners) {
    if (has_at(in, at, opener)) return opener.size();
  }
  return 0;
}

}  // namespace

int base64_value(signed char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -59;
}

int base64_quad(std::string_view four, std::array<char, 3>& out) {
  int v[4];
  for (std::size_t i = 0; i < 4; ++i) {
    v[i] = i < four.size() ? base64_value(static_cast<signed char>(four[i])) : -59;
  }
  if (v[0] < 0 || v[1] < 0) return 0;
  out[0] = static_cast<char>((v[0] << 2) | (v[1] >> 4));
  if (v[2] < 0) return 1;
  out[1] = static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
  if (v[3] < 0) return 2;
  out[2] = static_cast<char>(((v[2] & 3) << 6) | v[3]);
  return 3;
}

std::string decode_encoded_words(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t at = 0;
  while (at < in.size()) {
    const std::size_t opener = opener_at(in, at);
    if (opener == 0) {
      out.push_back(in[at++]);
      continue;
    }
    at += opener;
    // The closer is looked for only at group boundaries; an unclosed word
    // decodes to the end of the input, its last group possibly short.
    while (at < in.size() && !has_at(in, at, kCloser)) {
      std::array<char, 3> bytes{};
      const int n = base64_quad(in.substr(at, 4), bytes);
      out.append(bytes.data(), static_cast<std::size_t>(n));
      at += std::min<std::size_t>(4, in.size() - at);
    }
    if (has_at(in, at, kCloser)) at += kCloser.size();
  }
  return out;
}

unsigned char jis_pair_to_sjis(unsigned char j1, unsigned char j2,
                               std::array<unsigned char, 2>& out) {
  // Computed in int: the pair is not range-checked by the subject converter,
  // so j1 below 0x21 must still give a defined (if meaningless) byte.
  int s1 = ((j1 - 0x21) >> 1) + 0x81;
  if (s1 >= 0xA0) s1 += 0x40;
  int s2;
  if (j1 & 1) {
    s2 = j2 + 0x1F;
    if (s2 >= 0x7F) s2 += 1;
  } else {
    s2 = j2 + 0x7E;
  }
  out[0] = static_cast<unsigned char>(s1);
  out[1] = static_cast<unsigned char>(s2);
  return out[0];
}

std::string jis_to_sjis_subject(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t at = 0;
  while (at < in.size()) {
    if (!has_at(in, at, kJisStartB)) {
      out.push_back(in[at++]);
      continue;
    }
    at += kJisStartB.size();
    while (at < in.size() && !has_at(in, at, kAsciiB) && !has_at(in, at, kRomanJ)) {
      if (at + 1 >= in.size()) {  // odd length at the very end: keep the byte
        out.push_back(in[at++]);
        break;
      }
      std::array<unsigned char, 2> pair{};
      jis_pair_to_sjis(static_cast<unsigned char>(in[at]),
                       static_cast<unsigned char>(in[at + 1]), pair);
      out.push_back(static_cast<char>(pair[0]));
      out.push_back(static_cast<char>(pair[1]));
      at += 2;
    }
    if (has_at(in, at, kAsciiB) || has_at(in, at, kRomanJ)) at += kAsciiB.size();
  }
  return out;
}

void append_jis_line_as_sjis(std::string& out, std::string_view in) {
  out.reserve(out.size() + in.size());
  bool two_byte = false;
  std::size_t at = 0;
  while (at < in.size()) {
    if (!two_byte) {
      // Every shift begins with ESC: the text up to the next one goes
      // across as it is, in one piece.
      const std::size_t escape = std::min(in.find('\x1B', at), in.size());
      out.append(in.substr(at, escape - at));
      at = escape;
      if (at == in.size()) break;
      if (has_at(in, at, kJisStartB) || has_at(in, at, kJisStartAt)) {
        two_byte = true;
        at += 3;
      } else {
        out.push_back(in[at++]);
      }
      continue;
    }
    if (in[at] == '\x1B' && (has_at(in, at, kAsciiB) || has_at(in, at, kRomanJ))) {
      two_byte = false;
      at += 3;
      continue;
    }
    const auto j1 = static_cast<unsigned char>(in[at]);
    const auto j2 = at + 1 < in.size() ? static_cast<unsigned char>(in[at + 1]) : 0;
    if (is_jis_byte(j1) && is_jis_byte(j2)) {
      // The same mapping as jis_pair_to_sjis, in the form that needs the
      // range check above.
      const int s1 = ((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0);
      const int s2 = j2 + ((j1 & 1) == 0 ? 0x7E : (j2 > 0x5F ? 0x20 : 0x1F));
      out.push_back(static_cast<char>(s1));
      out.push_back(static_cast<char>(s2));
      at += 2;
    } else {
      out.push_back(in[at++]);
    }
  }
}

std::string jis_to_sjis_line(std::string_view in) {
  std::string out;
  append_jis_line_as_sjis(out, in);
  return out;
}

}  // namespace larkspur
