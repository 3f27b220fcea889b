#include "platform/common/mail_charset.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace larkspur::platform::detail {
namespace {

struct NamedCharset {
  std::string_view name;  // lower case
  MailCharset charset;
};

// The one table of charset labels both builds read: the charsets of mail
// that come up in practice beyond the Japanese ones (which the core
// converts itself) and their common aliases. A label missing here is unknown
// to both builds alike; a label one system knows by another name (the
// logical and visual Hebrew and Arabic labels, which iconv does not know and
// Windows does) is written here as the charset it means, so both read it.
constexpr std::array kMailCharsets{
    NamedCharset{"utf-8", {"UTF-8", 65001, MailDecoder::kUtf8}},
    NamedCharset{"utf8", {"UTF-8", 65001, MailDecoder::kUtf8}},
    NamedCharset{"utf-7", {"UTF-7", 65000, MailDecoder::kUtf7}},
    NamedCharset{"utf7", {"UTF-7", 65000, MailDecoder::kUtf7}},
    NamedCharset{"unicode-1-1-utf-7", {"UTF-7", 65000, MailDecoder::kUtf7}},
    // Mail labelled ISO-8859-1 is windows-1252 in practice (quotes and dashes
    // in 0x80-0x9F), as browsers take it.
    NamedCharset{"iso-8859-1", {"CP1252", 1252}},
    NamedCharset{"latin1", {"CP1252", 1252}},
    NamedCharset{"iso-8859-2", {"ISO-8859-2", 28592}},
    NamedCharset{"iso-8859-5", {"ISO-8859-5", 28595}},
    // Arabic and Hebrew: the -i (logical), -e (explicit) and visual labels
    // differ only in the direction of the text, not in its bytes.
    NamedCharset{"iso-8859-6", {"ISO-8859-6", 28596}},
    NamedCharset{"iso-8859-6-i", {"ISO-8859-6", 28596}},
    NamedCharset{"iso-8859-6-e", {"ISO-8859-6", 28596}},
    NamedCharset{"iso-8859-7", {"ISO-8859-7", 28597}},
    NamedCharset{"iso-8859-8", {"ISO-8859-8", 28598}},
    NamedCharset{"iso-8859-8-i", {"ISO-8859-8", 28598}},
    NamedCharset{"iso-8859-8-e", {"ISO-8859-8", 28598}},
    NamedCharset{"visual", {"ISO-8859-8", 28598}},
    NamedCharset{"logical", {"ISO-8859-8", 28598}},
    NamedCharset{"iso-8859-9", {"ISO-8859-9", 28599}},
    NamedCharset{"iso-8859-15", {"ISO-8859-15", 28605}},
    NamedCharset{"windows-1250", {"CP1250", 1250}},
    NamedCharset{"windows-1251", {"CP1251", 1251}},
    NamedCharset{"windows-1252", {"CP1252", 1252}},
    NamedCharset{"cp1252", {"CP1252", 1252}},
    NamedCharset{"windows-1253", {"CP1253", 1253}},
    NamedCharset{"windows-1254", {"CP1254", 1254}},
    NamedCharset{"koi8-r", {"KOI8-R", 20866}},
    NamedCharset{"euc-kr", {"CP949", 949}},
    NamedCharset{"ks_c_5601-1987", {"CP949", 949}},
    NamedCharset{"gb2312", {"CP936", 936}},
    NamedCharset{"gbk", {"CP936", 936}},
    NamedCharset{"big5", {"CP950", 950}},
};

struct Fixup {
  char32_t code;
  std::string_view cp932;  // empty: shown as a numeric reference
};

// The JIS X 0208 mappings (iconv's, and what ISO-2022-JP and EUC-JP mail
// means) give these characters where CP932 has the full-width forms; CP932
// has one code for both. ¥ and ‾ have no CP932 code of their own. Windows
// alone gives U+0080 and U+F8F0-U+F8F3 the single bytes 0x80, 0xA0 and
// 0xFD-0xFF, which are no Shift_JIS characters. With this table both builds
// give the same bytes for every character of the BMP (compared one by one).
constexpr std::array kCp932Fixups{
    Fixup{0x0080, ""},
    Fixup{0x00A2, "\x81\x91"},  // ¢
    Fixup{0x00A3, "\x81\x92"},  // £
    Fixup{0x00A5, ""},          // ¥
    Fixup{0x00AC, "\x81\xCA"},  // ¬
    Fixup{0x2014, "\x81\x5C"},  // —
    Fixup{0x2016, "\x81\x61"},  // ‖
    Fixup{0x203E, ""},          // ‾
    Fixup{0x2212, "\x81\x7C"},  // −
    Fixup{0x301C, "\x81\x60"},  // 〜
    Fixup{0xF8F0, ""},
    Fixup{0xF8F1, ""},
    Fixup{0xF8F2, ""},
    Fixup{0xF8F3, ""},
};

std::string_view trimmed(std::string_view name) {
  constexpr std::string_view kBlanks = " \t\"'";
  const std::size_t first = name.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return name.substr(first, name.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

std::optional<MailCharset> find_mail_charset(std::string_view name) {
  std::string lower(trimmed(name));
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const NamedCharset& entry : kMailCharsets) {
    if (entry.name == lower) return entry.charset;
  }
  return std::nullopt;
}

bool append_cp932_fixup(std::string& out, char32_t code) {
  for (const Fixup& fixup : kCp932Fixups) {
    if (fixup.code != code) continue;
    if (fixup.cp932.empty()) {
      append_numeric_reference(out, code);
    } else {
      out += fixup.cp932;
    }
    return true;
  }
  return false;
}

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCode = 0x10FFFF;
constexpr char32_t kFirstUserDefined = 0xE000;
constexpr char32_t kLastUserDefined = 0xE757;

bool is_surrogate(char32_t code) { return code >= 0xD800 && code <= 0xDFFF; }

// The UTF-8 character at the start of `bytes` and its length; length 0 when
// the first byte begins no valid character.
std::pair<char32_t, std::size_t> utf8_character(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char first = byte(0);
  if (first < 0x80) return {first, 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2, code = first & 0x1F, least = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3, code = first & 0x0F, least = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4, code = first & 0x07, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (bytes.size() < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {0, 0};
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (code < least || code > kMaxCode || is_surrogate(code)) return {0, 0};
  return {code, length};
}

}  // namespace

std::optional<std::u32string> decode_utf7(std::string_view bytes) {
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u32string codes;
  codes.reserve(bytes.size());
  char32_t high_surrogate = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const char c = bytes[i];
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    if (c != '+') {
      codes += static_cast<char32_t>(c);
      ++i;
      continue;
    }
    ++i;
    if (i < bytes.size() && bytes[i] == '-') {  // "+-" is a plus sign
      codes += U'+';
      ++i;
      continue;
    }
    // A shifted run: base64 of UTF-16 (big-endian), ended by any byte out of
    // the alphabet; a '-' that ends it is absorbed.
    std::uint32_t bits = 0;
    int count = 0;
    for (; i < bytes.size(); ++i) {
      const std::size_t value = kAlphabet.find(bytes[i]);
      if (value == std::string_view::npos) break;
      bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
      count += 6;
      if (count < 16) continue;
      count -= 16;
      const auto unit = static_cast<char32_t>((bits >> count) & 0xFFFF);
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (high_surrogate != 0) return std::nullopt;
        high_surrogate = unit;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (high_surrogate == 0) return std::nullopt;
        codes += 0x10000 + ((high_surrogate - 0xD800) << 10) + (unit - 0xDC00);
        high_surrogate = 0;
      } else {
        if (high_surrogate != 0) return std::nullopt;
        codes += unit;
      }
    }
    // What is left over is padding: fewer than six bits, all zero.
    if (high_surrogate != 0 || count >= 6 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
    if (i < bytes.size() && bytes[i] == '-') ++i;
  }
  return codes;
}

std::string codes_to_sjis(std::u32string_view codes) {
  std::string out;
  out.reserve(codes.size() * 2);
  append_codes_sjis(out, codes, 0);
  return out;
}

// `next` is the code that follows `codes` (0: none), which tells whether a
// '&' at their end begins "&#".
void append_codes_sjis(std::string& out, std::u32string_view codes, char32_t next) {
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const char32_t code = codes[i];
    const char32_t after = i + 1 < codes.size() ? codes[i + 1] : next;
    if (code == U'&' && after == U'#') {
      append_numeric_reference(out, code);
    } else if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code >= kFirstUserDefined && code <= kLastUserDefined) {
      // CP932 keeps this private-use block for its user-defined codes
      // F040-F9FC, which are no characters a page could show.
      append_numeric_reference(out, code);
    } else if (!append_cp932_fixup(out, code) && !append_os_cp932(out, code)) {
      append_numeric_reference(out, code);
    }
  }
}

void append_numeric_reference(std::string& out, char32_t code) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  char digits[8];
  int count = 0;
  do {
    digits[count++] = kHex[code & 0xF];
    code >>= 4;
  } while (code != 0 && count < 8);
  out += "&#x";
  while (count > 0) out += digits[--count];
  out += ';';
}

}  // namespace larkspur::platform::detail

namespace larkspur::platform {

namespace {

// Code points to CP932 a piece at a time, so that a long text never exists
// as code points whole (four bytes a character): each piece waits for the
// next, whose first code tells whether a '&' at its end begins "&#".
class SjisWriter {
 public:
  explicit SjisWriter(std::size_t size_hint) { out_.reserve(size_hint); }
  void take(std::u32string_view codes) {
    if (codes.empty()) return;
    detail::append_codes_sjis(out_, pending_, codes.front());
    pending_.assign(codes);
  }
  std::string finish() {
    detail::append_codes_sjis(out_, pending_, 0);
    return std::move(out_);
  }

 private:
  std::u32string pending_;
  std::string out_;
};

// UTF-8 (a byte-order mark at the start dropped) to `writer`, a piece at a
// time. Strict (`reading` null): false at the first byte that begins no
// character. Lenient: each such byte becomes U+FFFD and is counted in
// `reading`, with the characters of two or more bytes; only the bad byte is
// lost, the next one may begin a character.
bool decode_utf8_in_pieces(std::string_view bytes, SjisWriter& writer, LenientUtf8* reading) {
  constexpr std::size_t kPieceCodes = 1 << 16;
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  std::u32string piece;
  piece.reserve(std::min(bytes.size(), kPieceCodes));
  while (!bytes.empty()) {
    auto [code, length] = detail::utf8_character(bytes);
    if (length == 0) {
      if (!reading) return false;
      code = detail::kReplacementCharacter;
      length = 1;
      ++reading->bad_bytes;
    } else if (length > 1 && reading) {
      ++reading->multibyte_characters;
    }
    piece += code;
    bytes.remove_prefix(length);
    if (piece.size() == kPieceCodes) {
      writer.take(piece);
      piece.clear();
    }
  }
  writer.take(piece);
  return true;
}

}  // namespace

std::optional<std::string> charset_to_sjis(std::string_view charset, std::string_view bytes) {
  const std::optional<detail::MailCharset> known = detail::find_mail_charset(charset);
  if (!known) return std::nullopt;
  SjisWriter writer(bytes.size());
  bool decoded = false;
  switch (known->decoder) {
    case detail::MailDecoder::kUtf8:
      decoded = decode_utf8_in_pieces(bytes, writer, nullptr);
      break;
    case detail::MailDecoder::kUtf7:
      if (const std::optional<std::u32string> codes = detail::decode_utf7(bytes)) {
        writer.take(*codes);
        decoded = true;
      }
      break;
    case detail::MailDecoder::kOs:
      decoded = detail::os_decode(*known, bytes, [&writer](std::u32string_view codes) { writer.take(codes); });
      break;
  }
  if (!decoded) return std::nullopt;
  return writer.finish();
}

LenientUtf8 utf8_to_sjis_lenient(std::string_view bytes) {
  LenientUtf8 reading;
  SjisWriter writer(bytes.size());
  decode_utf8_in_pieces(bytes, writer, &reading);
  reading.sjis = writer.finish();
  return reading;
}

}  // namespace larkspur::platform
