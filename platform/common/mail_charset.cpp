#include "platform/common/mail_charset.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace larkspur::platform::detail {
namespace {

struct NamedCharset {
  std::string_view name;  // lower case
  MailCharset charset;
};

// The charsets of mail that come up in practice beyond the Japanese ones
// (which the core converts itself) and their common aliases. A name missing
// here is unknown to both builds alike.
constexpr std::array kMailCharsets{
    NamedCharset{"utf-8", {"UTF-8", 65001}},
    NamedCharset{"utf8", {"UTF-8", 65001}},
    // Mail labelled ISO-8859-1 is windows-1252 in practice (quotes and dashes
    // in 0x80-0x9F), as browsers take it.
    NamedCharset{"iso-8859-1", {"CP1252", 1252}},
    NamedCharset{"latin1", {"CP1252", 1252}},
    NamedCharset{"iso-8859-2", {"ISO-8859-2", 28592}},
    NamedCharset{"iso-8859-5", {"ISO-8859-5", 28595}},
    NamedCharset{"iso-8859-7", {"ISO-8859-7", 28597}},
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
