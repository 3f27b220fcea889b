// Mail texts to Shift_JIS: charsets (with the fall-backs for mislabelled
// Japanese mail), header fields and their encoded words.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "retrieval/cp932_tables.h"
#include "retrieval/decode.h"
#include "retrieval/mime.h"
#include "retrieval/mime_detail.h"

namespace larkspur {
namespace mime_detail {
namespace {

enum class Family { iso2022jp, shift_jis, euc_jp, ascii, other };

Family family_of(std::string_view charset) {
  std::string name = lower_ascii(charset);
  const std::size_t first = name.find_first_not_of(" \t\"'");
  const std::size_t last = name.find_last_not_of(" \t\"'");
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  if (name.starts_with("iso-2022-jp") || name == "csiso2022jp" || name == "jis") return Family::iso2022jp;
  constexpr std::array kShiftJis{"shift_jis", "shift-jis", "sjis", "x-sjis", "ms_kanji", "csshiftjis",
                                 "cp932", "windows-31j", "ms932", "x-ms-cp932", "shift_jis-2004"};
  if (std::find(kShiftJis.begin(), kShiftJis.end(), name) != kShiftJis.end()) return Family::shift_jis;
  constexpr std::array kEucJp{"euc-jp", "x-euc-jp", "eucjp", "cseucpkdfmtjapanese", "euc-jp-ms", "eucjp-ms"};
  if (std::find(kEucJp.begin(), kEucJp.end(), name) != kEucJp.end()) return Family::euc_jp;
  if (name.empty() || name == "us-ascii" || name == "ascii" || name == "unknown-8bit") return Family::ascii;
  return Family::other;
}

unsigned char at(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

bool is_trail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }
bool is_kana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool is_euc_byte(unsigned char c) { return c >= 0xA1 && c <= 0xFE; }

// A text is read as UTF-8 with a few bad bytes when it holds at least this
// many characters of two or more bytes per bad byte. Japanese Shift_JIS or
// EUC-JP text, read as UTF-8, holds at most two per bad byte even in a few
// characters (measured over thousands of random texts), as nearly every
// byte of it is a bad one.
constexpr std::size_t kUtf8CharactersPerBadByte = 3;

// What a double-byte code CP932 does not assign shows when no carrier's
// pictograph is known for it: 〓, the mark Japanese text puts for a character
// it cannot print.
constexpr std::string_view kGetaMark = "\x81\xAC";

// au (KDDI) handsets send their pictographs in ISO-2022-JP as codes of the
// rows from 0x75, whose Shift_JIS forms (lead bytes 0xEB to 0xEF) lie this
// far below the pictographs' own Shift_JIS codes (0xF3 to 0xF7). Only the
// lead bytes CP932 leaves unassigned are taken for pictographs: 0xED and
// 0xEE are the NEC-selected IBM kanji that other mail writers send there.
constexpr unsigned char kAuJisLeadOffset = 0x08;
bool is_au_jis_lead(unsigned char sjis_lead) { return sjis_lead == 0xEB || sjis_lead == 0xEC || sjis_lead == 0xEF; }

// Written where a byte of mislabelled ISO-2022-JP text is lost, for
// lenient_sjis to replace: a byte that begins no Shift_JIS character.
constexpr char kLostByte = '\xFF';

void append_reference(std::string& out, char32_t code) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kHex[code & 0xF]);
    code >>= 4;
  } while (code != 0);
  out += "&#x" + digits + ";";
}

// The carrier's pictograph whose Shift_JIS code is `lead` `trail`; nullptr
// when there is none.
const cp932_tables::CarrierEmoji* find_carrier_emoji(unsigned char lead, unsigned char trail) {
  const unsigned code = static_cast<unsigned>(lead) << 8 | trail;
  const cp932_tables::CarrierEmoji* const begin = cp932_tables::kCarrierEmoji;
  const cp932_tables::CarrierEmoji* const end = begin + cp932_tables::kCarrierEmojiCount;
  const auto found = std::lower_bound(
      begin, end, code, [](const cp932_tables::CarrierEmoji& e, unsigned wanted) { return e.code < wanted; });
  return found != end && found->code == code ? found : nullptr;
}

// A double-byte code of Japanese text: one CP932 assigns or a carrier's
// pictograph.
bool is_sjis_character(unsigned char lead, unsigned char trail) {
  return is_cp932_pair(lead, trail) || find_carrier_emoji(lead, trail) != nullptr;
}

bool has_sjis_character(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (!platform::is_sjis_lead_byte(at(text, i))) continue;
    if (is_sjis_character(at(text, i), at(text, i + 1))) return true;
    ++i;
  }
  return false;
}

bool has_8bit(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Shift_JIS with every byte that starts no character replaced, and every
// literal "&" before "#" written as a reference.
std::string lenient_sjis(std::string_view text, bool* valid = nullptr) {
  std::string out;
  out.reserve(text.size());
  bool clean = true;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = at(text, i);
    if (c == '&' && i + 1 < text.size() && text[i + 1] == '#') {
      out += kLiteralAmpersand;
      ++i;
    } else if (c < 0x80 || is_kana(c)) {
      out += text[i++];
    } else if (platform::is_sjis_lead_byte(c) && i + 1 < text.size() && is_trail(at(text, i + 1))) {
      if (!is_sjis_character(c, at(text, i + 1))) clean = false;
      out.append(text.substr(i, 2));
      i += 2;
    } else {
      out += kReplacement;
      clean = false;
      ++i;
    }
  }
  if (valid != nullptr) *valid = clean;
  return out;
}

bool is_valid_sjis(std::string_view text) {
  bool valid = false;
  lenient_sjis(text, &valid);
  return valid;
}

void append_jis_pair(std::string& out, unsigned char j1, unsigned char j2) {
  std::array<unsigned char, 2> pair{};
  jis_pair_to_sjis(j1, j2, pair);
  out += static_cast<char>(pair[0]);
  out += static_cast<char>(pair[1]);
}

// EUC-JP: JIS X 0208 pairs (the NEC and IBM rows included) become their
// Shift_JIS pairs, SS2 katakana their single bytes. JIS X 0212 (SS3) has no
// Shift_JIS form, nor has anything invalid.
std::string from_euc_jp(std::string_view text, bool* valid = nullptr) {
  std::string out;
  out.reserve(text.size());
  bool clean = true;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = at(text, i);
    const std::size_t left = text.size() - i;
    if (c == '&' && left >= 2 && text[i + 1] == '#') {
      out += kLiteralAmpersand;
      ++i;
    } else if (c < 0x80) {
      out += text[i++];
    } else if (c == 0x8E && left >= 2 && is_kana(at(text, i + 1))) {
      out += text[i + 1];
      i += 2;
    } else if (c == 0x8F && left >= 3 && is_euc_byte(at(text, i + 1)) && is_euc_byte(at(text, i + 2))) {
      out += kReplacement;
      i += 3;
    } else if (is_euc_byte(c) && left >= 2 && is_euc_byte(at(text, i + 1))) {
      append_jis_pair(out, c & 0x7F, at(text, i + 1) & 0x7F);
      i += 2;
    } else {
      out += kReplacement;
      clean = false;
      ++i;
    }
  }
  if (valid != nullptr) *valid = clean;
  return out;
}

// EUC-JP rather than Shift_JIS: valid as EUC-JP, and without the bytes 0x80
// to 0xA0 (other than SS2 and SS3) that nearly every Japanese Shift_JIS text
// has as lead bytes and EUC-JP never has.
bool looks_like_euc_jp(std::string_view text) {
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 && c <= 0xA0 && c != 0x8E && c != 0x8F) return false;
  }
  bool valid = false;
  from_euc_jp(text, &valid);
  return valid;
}

// ISO-2022-JP and its relatives: JIS X 0208 (with the NEC row 13 and the IBM
// rows, and JIS X 0213 plane 1, which extends it), half-width katakana by
// ESC ( I or SO/SI, ASCII and JIS X 0201 Roman. Other 94x94 sets have no
// Shift_JIS form. A line end returns to ASCII, as mail writers that forget
// the closing escape expect. Bytes that fit no state are copied.
std::string from_iso2022jp(std::string_view text) {
  enum class Mode { ascii, kanji, kana, other };
  Mode mode = Mode::ascii;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = at(text, i);
    if (c == 0x1B) {
      const std::string_view rest = text.substr(i + 1);
      struct Sequence {
        std::string_view bytes;
        Mode mode;
      };
      constexpr std::array kSequences{
          Sequence{"(B", Mode::ascii},   Sequence{"(J", Mode::ascii},  Sequence{"(H", Mode::ascii},
          Sequence{"$B", Mode::kanji},   Sequence{"$@", Mode::kanji},  Sequence{"$(B", Mode::kanji},
          Sequence{"$(O", Mode::kanji},  Sequence{"$(Q", Mode::kanji}, Sequence{"(I", Mode::kana},
          Sequence{"$(D", Mode::other},  Sequence{"$A", Mode::other},  Sequence{"$(C", Mode::other},
          Sequence{"$(P", Mode::other},
      };
      bool known = false;
      for (const Sequence& sequence : kSequences) {
        if (rest.starts_with(sequence.bytes)) {
          mode = sequence.mode;
          i += 1 + sequence.bytes.size();
          known = true;
          break;
        }
      }
      if (!known) ++i;  // an escape of no known sequence is dropped alone
      continue;
    }
    if (c == 0x0E || c == 0x0F) {
      mode = c == 0x0E ? Mode::kana : Mode::ascii;
      ++i;
      continue;
    }
    if (c == '\n') mode = Mode::ascii;
    const bool graphic = c >= 0x21 && c <= 0x7E;
    const bool pair = graphic && i + 1 < text.size() && at(text, i + 1) >= 0x21 && at(text, i + 1) <= 0x7E;
    if (mode == Mode::kanji && pair) {
      append_jis_pair(out, c, at(text, i + 1));
      char& lead = out[out.size() - 2];
      if (is_au_jis_lead(static_cast<unsigned char>(lead))) lead = static_cast<char>(lead + kAuJisLeadOffset);
      i += 2;
    } else if (mode == Mode::other && pair) {
      out += kLostByte;  // lenient_sjis below makes it kReplacement
      i += 2;
    } else if (mode == Mode::kana && c >= 0x21 && c <= 0x5F) {
      out += static_cast<char>(c + 0x80);
      ++i;
    } else {
      out += text[i++];
    }
  }
  // 8-bit bytes copied from mislabelled text may not form characters.
  return lenient_sjis(out);
}

std::optional<std::string> from_utf8(std::string_view text) {
  return platform::charset_to_sjis("utf-8", text);
}

// UTF-8 with a few bad bytes (each shown as kReplacement), when the text
// holds far more UTF-8 characters than bad bytes.
std::optional<std::string> from_mostly_utf8(std::string_view text) {
  platform::LenientUtf8 reading = platform::utf8_to_sjis_lenient(text);
  if (reading.multibyte_characters < kUtf8CharactersPerBadByte * reading.bad_bytes) return std::nullopt;
  return std::move(reading.sjis);
}

// Bytes whose label did not fit (or that have none): the first charset they
// are valid in. Latin-labelled text that is no Japanese text is taken for
// windows-1252, the Latin charset that mail labelled ISO-8859-1 or US-ASCII
// really is.
std::string guessed(std::string_view text, bool latin_label) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark
  const bool escapes = text.find('\x1B') != std::string_view::npos;
  if (!has_8bit(text)) return escapes ? from_iso2022jp(text) : lenient_sjis(text);
  if (auto utf8 = from_utf8(text)) return *utf8;
  if (auto utf8 = from_mostly_utf8(text)) return *utf8;
  if (looks_like_euc_jp(text)) return from_euc_jp(text);
  if (is_valid_sjis(text)) return lenient_sjis(text);
  if (escapes) return from_iso2022jp(text);
  // 8-bit text that is no Japanese text at all (no double-byte character
  // CP932 assigns, as "J\xFCrgen") is Latin text.
  if (latin_label || !has_sjis_character(text)) {
    if (auto latin = platform::charset_to_sjis("windows-1252", text)) return *latin;
  }
  return lenient_sjis(text);
}

}  // namespace

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

namespace {

std::string converted(std::string_view charset, std::string_view bytes) {
  switch (family_of(charset)) {
    case Family::iso2022jp:
      return has_8bit(bytes) ? guessed(bytes, false) : from_iso2022jp(bytes);
    case Family::shift_jis:
      return is_valid_sjis(bytes) ? lenient_sjis(bytes) : guessed(bytes, false);
    case Family::euc_jp: {
      bool valid = false;
      std::string out = from_euc_jp(bytes, &valid);
      return valid ? out : guessed(bytes, false);
    }
    case Family::ascii:
      return guessed(bytes, !charset.empty());
    case Family::other:
      break;
  }
  if (auto converted = platform::charset_to_sjis(charset, bytes)) return *converted;
  return guessed(bytes, true);
}

void append_emoji(std::string& out, const cp932_tables::CarrierEmoji& emoji) {
  // Even an ASCII first code ('#' of a keycap) is written as a reference, so
  // that it never joins a literal '&' before it.
  append_reference(out, emoji.first);
  if (emoji.second != 0) append_reference(out, emoji.second);
}

}  // namespace

bool is_cp932_pair(unsigned char lead, unsigned char trail) {
  // Every double-byte code as one bit, made once from the table's runs:
  // this test runs for each character of every text a receive stores.
  static const std::vector<bool> assigned = [] {
    std::vector<bool> bits(0x10000);
    for (std::size_t i = 0; i < cp932_tables::kAssignedRunCount; ++i) {
      const cp932_tables::Cp932Run& run = cp932_tables::kAssignedRuns[i];
      for (unsigned trail = run.first; trail <= run.last; ++trail) bits[run.lead * 0x100u + trail] = true;
    }
    return bits;
  }();
  return assigned[lead * 0x100u + trail];
}

bool is_cp932_text(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = at(text, i);
    if (c < 0x80 || is_kana(c)) continue;
    if (!platform::is_sjis_lead_byte(c) || i + 1 >= text.size() || !is_cp932_pair(c, at(text, i + 1))) return false;
    ++i;
  }
  return true;
}

std::string text_to_sjis(std::string_view charset, std::string_view bytes) {
  std::string text = converted(charset, bytes);
  if (is_cp932_text(text)) return text;
  // Codes CP932 does not assign: the carriers' pictographs (their Shift_JIS
  // codes, and au's in ISO-2022-JP) become their emoji, anything else 〓.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = at(text, i);
    if (c < 0x80 || is_kana(c)) {
      out += text[i];
      continue;
    }
    if (!platform::is_sjis_lead_byte(c) || i + 1 >= text.size() || !is_trail(at(text, i + 1))) {
      out += kReplacement;
      continue;
    }
    const unsigned char trail = at(text, i + 1);
    ++i;
    if (is_cp932_pair(c, trail)) {
      out += static_cast<char>(c);
      out += static_cast<char>(trail);
      continue;
    }
    if (const cp932_tables::CarrierEmoji* emoji = find_carrier_emoji(c, trail)) {
      append_emoji(out, *emoji);
    } else {
      out += kGetaMark;
    }
  }
  return out;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<char> hex_byte(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size()) return std::nullopt;
  const int high = hex_value(text[at]);
  const int low = hex_value(text[at + 1]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<char>(high * 16 + low);
}

std::string hex_unescape(std::string_view text, char escape) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::optional<char> byte;
    if (text[i] == escape && (byte = hex_byte(text, i + 1))) {
      out += *byte;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

namespace {

std::string q_decode(std::string_view text) {
  // An underscore stands for a space; one written "=5F" stays an underscore.
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '_', ' ');
  return hex_unescape(spaced, '=');
}

// One piece of a header value: an encoded word's decoded bytes and charset,
// or raw bytes.
struct Piece {
  bool encoded = false;
  std::string charset;  // lower case, language suffix (RFC 2231) removed
  std::string bytes;
};

// The encoded word "=?charset?e?text?=" at the start of `text`: its length
// and its piece; 0 when none starts there.
std::size_t parse_encoded_word(std::string_view text, Piece& piece) {
  if (!text.starts_with("=?")) return 0;
  const std::size_t q1 = text.find('?', 2);
  if (q1 == std::string_view::npos || q1 == 2 || q1 + 3 >= text.size() || text[q1 + 2] != '?') return 0;
  const std::string_view charset = text.substr(2, q1 - 2);
  if (charset.find_first_of(" \t\r\n") != std::string_view::npos) return 0;
  const char encoding = text[q1 + 1];
  if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') return 0;
  const std::size_t start = q1 + 3;
  // The encoded text holds no blank and no '?', so the word ends at the
  // first of them, and only when that is the '?' of "?=". Looking no further
  // keeps a header of many unclosed words linear.
  const std::size_t close = text.find_first_of(" \t\r\n?", start);
  if (close == std::string_view::npos || text[close] != '?' || close + 1 >= text.size() || text[close + 1] != '=') {
    return 0;
  }
  const std::string_view encoded = text.substr(start, close - start);
  piece.encoded = true;
  piece.charset = lower_ascii(charset.substr(0, charset.find('*')));
  piece.bytes = (encoding == 'B' || encoding == 'b') ? base64_decode(encoded) : q_decode(encoded);
  return close + 2;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string base64_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned bits = 0;
  int count = 0;
  // A group cut short by '=' (or by the end) gives the bytes it completes; a
  // new group may follow the padding, as in texts pasted together.
  const auto flush = [&] {
    if (count == 2) out += static_cast<char>((bits >> 4) & 0xFF);
    if (count == 3) {
      out += static_cast<char>((bits >> 10) & 0xFF);
      out += static_cast<char>((bits >> 2) & 0xFF);
    }
    bits = 0;
    count = 0;
  };
  for (char c : text) {
    const int value = base64_value(static_cast<signed char>(c));
    if (value == -1) {
      flush();
      continue;
    }
    if (value < 0) continue;  // line ends, blanks and stray bytes
    bits = (bits << 6) | static_cast<unsigned>(value);
    if (++count == 4) {
      out += static_cast<char>((bits >> 16) & 0xFF);
      out += static_cast<char>((bits >> 8) & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  flush();
  return out;
}

std::string decode_header_text(std::string_view value) {
  std::vector<Piece> pieces;
  std::size_t blanks_start = std::string_view::npos;  // blanks after an encoded word
  for (std::size_t i = 0; i < value.size();) {
    Piece word;
    if (const std::size_t length = parse_encoded_word(value.substr(i), word)) {
      // Blanks between two encoded words go; one charset's words join.
      if (blanks_start != std::string_view::npos && !pieces.empty() && !pieces.back().encoded) {
        std::string& raw = pieces.back().bytes;
        raw.resize(raw.size() - (i - blanks_start));
        if (raw.empty()) pieces.pop_back();
      }
      if (!pieces.empty() && pieces.back().encoded && pieces.back().charset == word.charset) {
        pieces.back().bytes += word.bytes;
      } else {
        pieces.push_back(std::move(word));
      }
      i += length;
      blanks_start = i;
      continue;
    }
    if (pieces.empty() || pieces.back().encoded) pieces.push_back(Piece{});
    pieces.back().bytes += value[i];
    if (!is_blank(value[i])) blanks_start = std::string_view::npos;
    ++i;
  }
  std::string out;
  for (const Piece& piece : pieces) out += text_to_sjis(piece.encoded ? piece.charset : "", piece.bytes);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

}  // namespace mime_detail

namespace {

// One header field of a header block: its name and unfolded raw value (the
// blanks after the colon removed), or for a line without a colon the whole
// unfolded line as value and no name.
struct HeaderField {
  std::string name;
  std::string value;
  bool has_name = false;
};

template <typename Visit>
void for_each_field(std::string_view block, const Visit& visit) {
  HeaderField field;
  bool open = false;
  for (std::size_t pos = 0; pos < block.size();) {
    std::size_t end = block.find('\n', pos);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(pos, end - pos);
    pos = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header block
    if ((line[0] == ' ' || line[0] == '\t') && open) {
      field.value += line;
      continue;
    }
    if (open) visit(field);
    field = HeaderField{};
    open = true;
    const std::size_t colon = line.find(':');
    std::string_view name = colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (colon == std::string_view::npos || name.empty() || name.find_first_of(" \t") != std::string_view::npos) {
      field.value = line;
      continue;
    }
    field.has_name = true;
    field.name = name;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.remove_prefix(1);
    field.value = value;
  }
  if (open) visit(field);
}

}  // namespace

std::string_view trim_blanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string header_field(std::string_view header_block, std::string_view name) {
  const std::string wanted = mime_detail::lower_ascii(name);
  std::string found;
  bool done = false;
  for_each_field(header_block, [&](const HeaderField& field) {
    if (done || !field.has_name || mime_detail::lower_ascii(field.name) != wanted) return;
    found = field.value;
    done = true;
  });
  return found;
}

std::string mime_detail::decoded_header_lines(std::string_view header_block) {
  std::string out;
  for_each_field(header_block, [&](const HeaderField& field) {
    // A name is raw bytes too (a byte-order mark before the first one).
    std::string line = field.has_name ? mime_detail::text_to_sjis("", field.name) + ": " : std::string();
    line += mime_detail::decode_header_text(field.value);
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    // Never an empty line: it would end the stored header block early.
    if (line.empty()) line = " ";
    out += line;
    out += '\n';
  });
  return out;
}

std::string extended_subject(std::string_view header_block) {
  std::string subject = mime_detail::decode_header_text(header_field(header_block, "Subject"));
  const std::size_t first = subject.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  subject = subject.substr(first, subject.find_last_not_of(' ') - first + 1);
  if (subject.size() <= kMaxExtendedSubjectBytes) return subject;
  // Cut between two characters, and never inside a numeric reference.
  std::size_t cut = 0;
  std::size_t semicolon = subject.find(';');  // the first ';' at or after i, looked for once per ';'
  for (std::size_t i = 0; i < subject.size();) {
    std::size_t length = 1;
    const auto c = static_cast<unsigned char>(subject[i]);
    if (platform::is_sjis_lead_byte(c) && i + 1 < subject.size()) length = 2;
    if (subject.compare(i, 3, "&#x") == 0) {
      if (semicolon != std::string::npos && semicolon < i) semicolon = subject.find(';', i);
      if (semicolon != std::string::npos) length = semicolon + 1 - i;
    }
    if (i + length > kMaxExtendedSubjectBytes) break;
    i += length;
    cut = i;
  }
  return subject.substr(0, cut);
}

}  // namespace larkspur
