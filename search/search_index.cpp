#include "search/search_index.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <thread>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>

#include "platform/platform.h"
#include "search/search_pack.h"
#include "search/search_text.h"
#include "settings/records.h"
#include "settings/store.h"

namespace larkspur {
namespace {

constexpr std::string_view kGenerationPrefix = "g";
constexpr long kIndexFormat = kSearchIndexFormat;
constexpr std::string_view kScriptExtension = ".js";
// Postings are written as base-64 digits (the alphabet below), five bits of a
// gap each, least significant first; a digit of 32 or more has more digits
// after it. kRunMark and a number written so stand for that many ids, each
// the one before plus one (frequent keys are in most messages).
constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
constexpr unsigned kMoreDigits = 32;
constexpr unsigned kGapBits = 5;
// Marks a run of consecutive ids: its length follows, in the same digits.
constexpr char kRunMark = '.';
constexpr long kMinRun = 3;
// Postings scattered over the archive (most keys') take fewer digits as a
// Rice code: kRiceMark, its parameter k as one digit, then bits, six a digit
// (most significant first): per id, its gap's quotient by 2^k as that many 1
// bits and a 0, then the gap's low k bits. The last digit is filled with 1
// bits, which never complete a gap. A key's postings are written in
// whichever form is shorter; in the packed posting files the digits of a
// Rice code deflate to about their six bits each.
constexpr char kRiceMark = '~';
constexpr unsigned kDigitBits = 6;
constexpr unsigned kMaxRiceParameter = 30;

// A generation is named after a hash of its files, so building from the same
// logs always gives the same names, however often a build was cut short.
std::string generation_folder(std::string_view generation) {
  return std::string(kSearchFolder) + "\\" + std::string(kGenerationPrefix) + std::string(generation);
}
// Where a build writes its files before they move to their generation's folder.
std::string build_folder() { return std::string(kSearchFolder) + "\\~build"; }

std::string hex_of(std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  return out;
}

// The hash of a generation: of the names and content hashes of its files
// (hashed by the threads that write them).
class GenerationHash {
 public:
  void add(std::string_view name, std::uint64_t file_hash) {
    hash_.add(name);
    hash_.add(std::string_view(reinterpret_cast<const char*>(&file_hash), sizeof file_hash));
  }
  std::string name() const { return hex_of(hash_.value()); }

 private:
  SearchHash hash_;
};
std::uint64_t file_hash(std::string_view bytes) { return search_file_hash(bytes); }

std::string chunk_path(const std::string& folder, long chunk) { return folder + "\\t" + std::to_string(chunk) + ".js"; }
std::string shard_path(const std::string& folder, long shard) { return folder + "\\p" + std::to_string(shard) + ".js"; }
std::string tail_path(const std::string& folder, long id) { return folder + "\\x" + std::to_string(id) + ".js"; }
std::string meta_path(const std::string& folder) { return folder + "\\m.js"; }
std::string temporary_of(std::string_view path) { return std::string(path) + ".tmp"; }

bool write_index_file(std::string_view path, std::string_view bytes) {
  return platform::write_file_fast_via(path, temporary_of(path), bytes);
}

// ------------------------------------------------------------ packed files

// The texts, postings and message lists of a generation and its segments are
// packed (see search_pack.h); the tail's files (x<I>.js) and state.js,
// rewritten by every receive, stay plain.
// zlib's levels. The texts are most of the index: they get zlib's default,
// about 4 % tighter than level 4 at half its speed (a full build deflates
// every text). The postings are mostly Rice codes, which no level packs
// tighter than their six bits a digit.
constexpr int kTextPackLevel = 6;
constexpr int kPackLevel = 4;

std::optional<std::string> pack_file(std::string_view name, std::string_view content, std::uint64_t hash) {
  return pack_search_file(name, content, hash, name.starts_with("t") ? kTextPackLevel : kPackLevel);
}

// The name a packed file calls itself: its file name without ".js".
std::string_view pack_name(std::string_view file_name) {
  return file_name.ends_with(kScriptExtension) ? file_name.substr(0, file_name.size() - kScriptExtension.size()) : file_name;
}
// Writes the packed file of `content` to `path`, named as `file_name` ("t3.js").
bool write_packed(std::string_view path, std::string_view file_name, std::string_view content) {
  const std::optional<std::string> file = pack_file(pack_name(file_name), content, file_hash(content));
  return file && write_index_file(path, *file);
}
// True when the packed file at `path` holds content of hash `hash`, under
// the name `file_name` would give it, and is as it was written: it need not
// be written again.
bool holds_packed(std::string_view path, std::string_view file_name, std::uint64_t hash) {
  const std::optional<std::string> file = platform::read_file(path);
  return file && packed_search_file_holds(*file, pack_name(file_name), hash);
}

// What an index file holds: a packed file's inflated bytes, a plain file's
// bytes. nullopt when it cannot be read (or a packed one is damaged).
std::optional<std::string> read_index_file(std::string_view path) {
  std::optional<std::string> bytes = platform::read_file(path);
  if (!bytes || !bytes->starts_with(kSearchPackHead)) return bytes;
  return unpack_search_file(*bytes);
}

// ------------------------------------------------------------ the format

// The letter of the two-character escape of a line break or a tab ("\n"
// rather than "\u000a": a text has a line break every few dozen
// characters); 0 for any other unit.
char short_escape(char16_t unit) {
  switch (unit) {
    case u'\n': return 'n';
    case u'\r': return 'r';
    case u'\t': return 't';
    default: return 0;
  }
}

// A JavaScript string literal (double quotes) in UTF-8 for `text`. Quotes,
// backslashes, control characters, line separators and unpaired surrogates
// are escaped, so any text makes one valid literal on one line.
void append_literal(std::string& out, std::u16string_view text) {
  out += '"';
  std::size_t run = 0;
  const auto flush = [&](std::size_t end) {
    if (end > run) out += platform::utf16_to_utf8_replacing(text.substr(run, end - run));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    const bool high = u >= 0xD800 && u <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    const bool escape = u < 0x20 || u == u'"' || u == u'\\' || u == 0x2028 || u == 0x2029 || (u >= 0xD800 && u <= 0xDFFF);
    if (!escape) continue;
    flush(i);
    if (u == u'"' || u == u'\\') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (const char letter = short_escape(u); letter != 0) {
      out += '\\';
      out += letter;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 0xF];
    }
    run = i + 1;
  }
  flush(text.size());
  out += '"';
}

void append_literal_sjis(std::string& out, std::string_view sjis) {
  append_literal(out, platform::sjis_to_utf16_display(sjis));
}

// ------------------------------------------------------ text file literals

// The text files hold their literals in Shift_JIS (the page loads them with
// charset "Shift_JIS"): two bytes a kanji or kana instead of UTF-8's three.
// Only what platform::search_sjis_code gives a code for is written as
// Shift_JIS; any other non-ASCII unit is escaped.
bool is_sjis_lead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// search_sjis_code for every unit, looked up once a process: a build writes
// every unit of every log through it.
const std::vector<std::uint16_t>& sjis_codes() {
  static const std::vector<std::uint16_t> codes = [] {
    std::vector<std::uint16_t> all(0x10000, 0);
    for (std::uint32_t u = 0x80; u < 0x10000; ++u) all[u] = platform::search_sjis_code(static_cast<char16_t>(u));
    return all;
  }();
  return codes;
}

// A literal for a text file: as append_literal, with what Shift_JIS holds as
// Shift_JIS bytes and any other non-ASCII unit as an escape.
void append_sjis_literal(std::string& out, std::u16string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::uint16_t* codes = sjis_codes().data();
  // Six bytes a unit at most ("\uXXXX"), written through a pointer into a
  // buffer the thread keeps, then appended.
  thread_local std::vector<char> buffer;
  if (buffer.size() < text.size() * 6 + 2) buffer.resize(text.size() * 6 + 2);
  char* const first = buffer.data();
  char* next = first;
  *next++ = '"';
  for (const char16_t u : text) {
    if (u >= 0x20 && u < 0x7F && u != u'"' && u != u'\\') {
      *next++ = static_cast<char>(u);
    } else if (u == u'"' || u == u'\\') {
      *next++ = '\\';
      *next++ = static_cast<char>(u);
    } else if (const char letter = short_escape(u); letter != 0) {
      *next++ = '\\';
      *next++ = letter;
    } else if (const std::uint16_t code = u >= 0x80 ? codes[u] : 0; code > 0xFF) {
      *next++ = static_cast<char>(code >> 8);
      *next++ = static_cast<char>(code & 0xFF);
    } else if (code != 0) {
      *next++ = static_cast<char>(code);
    } else {
      *next++ = '\\';
      *next++ = 'u';
      for (int shift = 12; shift >= 0; shift -= 4) *next++ = kHex[(u >> shift) & 0xF];
    }
  }
  *next++ = '"';
  out.append(first, static_cast<std::size_t>(next - first));
}

using Argument = std::variant<long, std::u16string>;
struct Call {
  std::string name;
  std::vector<Argument> arguments;
};

// Reads the lines "LS.<name>(<args>);" of an index file; a line that does not
// parse ends the reading (nullopt: the file is not one this code wrote).
class CallReader {
 public:
  // `sjis`: the literals are those of append_sjis_literal.
  explicit CallReader(std::string_view text, bool sjis = false) : text_(text), sjis_(sjis) {}

  std::optional<std::vector<Call>> all() {
    std::vector<Call> calls;
    while (pos_ < text_.size()) {
      if (text_[pos_] == '\n') {
        ++pos_;
        continue;
      }
      Call call;
      if (!expect("LS.")) return std::nullopt;
      while (pos_ < text_.size() && text_[pos_] != '(') call.name += text_[pos_++];
      if (!expect("(")) return std::nullopt;
      while (pos_ < text_.size() && text_[pos_] != ')') {
        if (!call.arguments.empty() && !expect(",")) return std::nullopt;
        if (pos_ < text_.size() && text_[pos_] == '"') {
          auto literal = string();
          if (!literal) return std::nullopt;
          call.arguments.emplace_back(std::move(*literal));
        } else {
          auto number = integer();
          if (!number) return std::nullopt;
          call.arguments.emplace_back(*number);
        }
      }
      if (!expect(");")) return std::nullopt;
      calls.push_back(std::move(call));
    }
    return calls;
  }
  // The text as one literal of `sjis` kind: nullopt unless it is exactly one.
  std::optional<std::u16string> literal() {
    if (text_.empty() || text_[0] != '"') return std::nullopt;
    auto out = string();
    if (pos_ != text_.size()) return std::nullopt;
    return out;
  }

 private:
  bool expect(std::string_view what) {
    if (text_.substr(pos_).starts_with(what)) {
      pos_ += what.size();
      return true;
    }
    return false;
  }

  std::optional<long> integer() {
    long value = 0;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && pos_ - start < 10) {
      value = value * 10 + (text_[pos_++] - '0');
    }
    if (pos_ == start) return std::nullopt;
    return value;
  }

  std::optional<std::u16string> string() {
    ++pos_;  // the opening quote
    std::u16string out;
    std::size_t run = pos_;
    const auto flush = [&]() -> bool {
      if (pos_ == run) return true;
      auto piece = platform::utf8_to_utf16(text_.substr(run, pos_ - run));
      if (!piece) return false;
      out += *piece;
      return true;
    };
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      const auto byte = static_cast<unsigned char>(c);
      if (sjis_ && byte >= 0x80) {  // no UTF-8 here: a Shift_JIS character
        if (!flush()) return std::nullopt;
        if (is_sjis_lead(byte)) {
          if (pos_ + 1 >= text_.size()) return std::nullopt;
          const char16_t unit = platform::search_sjis_unit(static_cast<std::uint16_t>(byte << 8 | static_cast<unsigned char>(text_[pos_ + 1])));
          out += unit != 0 ? unit : u'\uFFFD';
          pos_ += 2;
        } else {
          out += byte >= 0xA1 && byte <= 0xDF ? static_cast<char16_t>(0xFF61 + byte - 0xA1) : u'\uFFFD';
          ++pos_;
        }
        run = pos_;
        continue;
      }
      if (c == '"') {
        if (!flush()) return std::nullopt;
        ++pos_;
        return out;
      }
      if (c != '\\') {
        ++pos_;
        continue;
      }
      if (!flush() || pos_ + 1 >= text_.size()) return std::nullopt;
      const char e = text_[pos_ + 1];
      if (e == 'u') {
        if (pos_ + 6 > text_.size()) return std::nullopt;
        char16_t unit = 0;
        for (std::size_t k = pos_ + 2; k < pos_ + 6; ++k) {
          const std::size_t digit = std::string_view("0123456789abcdef").find(text_[k]);
          if (digit == std::string_view::npos) return std::nullopt;
          unit = static_cast<char16_t>(unit * 16 + digit);
        }
        out += unit;
        pos_ += 6;
      } else {
        out += e == 'n' ? u'\n' : e == 'r' ? u'\r' : e == 't' ? u'\t' : static_cast<char16_t>(static_cast<unsigned char>(e));
        pos_ += 2;
      }
      run = pos_;
    }
    return std::nullopt;
  }

  std::string_view text_;
  bool sjis_ = false;
  std::size_t pos_ = 0;
};

std::optional<std::vector<Call>> read_calls(std::string_view path, bool sjis = false) {
  const std::optional<std::string> bytes = read_index_file(path);
  if (!bytes) return std::nullopt;
  return CallReader(*bytes, sjis).all();
}

long number_at(const Call& call, std::size_t i) {
  return i < call.arguments.size() && std::holds_alternative<long>(call.arguments[i]) ? std::get<long>(call.arguments[i]) : -1;
}
const std::u16string& text_at(const Call& call, std::size_t i) {
  static const std::u16string kNone;
  return i < call.arguments.size() && std::holds_alternative<std::u16string>(call.arguments[i])
             ? std::get<std::u16string>(call.arguments[i])
             : kNone;
}

// ------------------------------------------------------------------ keys

// The shard of a key of one unit (second = -1) or two; the page computes the
// same with Math.imul.
int shard_of(char16_t first, long second, long shards) {
  const std::uint32_t h = (static_cast<std::uint32_t>(first) * 0x9E3779B1u) ^
                          (static_cast<std::uint32_t>(second + 1) * 0x85EBCA6Bu);
  return static_cast<int>(static_cast<long>(h >> 22) % shards);
}

// Asks the processor to load the memory at `address` into its caches.
inline void prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// A posting list under construction: gaps written as digits, the last id.
// A run of ids that follow one another (gaps of 0) is written as the run
// mark and the run's length, once it is at least kMinRun long.
struct Postings {
  std::string digits;
  long last = -1;
  long run = 0;  // ids after the written ones, each the one before plus one

  void add(long id) {
    if (id == last) return;
    if (id == last + 1 && last >= 0) {
      ++run;
    } else {
      if (run != 0) append_run(digits, run);
      run = 0;
      append_number(digits, static_cast<unsigned long>(id - last - 1));
    }
    last = id;
  }
  // Appends the postings of `other`, whose ids all follow this one's.
  void append(const Postings& other) {
    if (other.last < 0) return;
    // Its first id is written as a gap from -1, never in a run.
    unsigned long first = 0;
    unsigned shift = 0;
    std::size_t i = 0;
    while (i < other.digits.size()) {
      const std::size_t value = kDigits.find(other.digits[i++]);
      if (value < kMoreDigits) {
        first |= static_cast<unsigned long>(value) << shift;
        break;
      }
      first |= static_cast<unsigned long>(value - kMoreDigits) << shift;
      shift += kGapBits;
    }
    add(static_cast<long>(first));
    append_run(digits, run);
    digits.append(other.digits, i);
    last = other.last;
    run = other.run;
  }
  // The complete digits onto `out`.
  void append_to(std::string& out) const {
    out += digits;
    append_run(out, run);
  }

 private:
  static void append_run(std::string& digits, long run) {
    if (run >= kMinRun) {
      digits += kRunMark;
      append_number(digits, static_cast<unsigned long>(run));
    } else {
      digits.append(static_cast<std::size_t>(run), kDigits[0]);
    }
  }
  static void append_number(std::string& digits, unsigned long value) {
    if (value < kMoreDigits) {  // most gaps: one digit
      digits += kDigits[value];
      return;
    }
    char buffer[16];
    std::size_t n = 0;
    while (value >= kMoreDigits) {
      buffer[n++] = kDigits[kMoreDigits + (value & (kMoreDigits - 1))];
      value >>= kGapBits;
    }
    buffer[n++] = kDigits[value];
    digits.append(buffer, n);
  }
};

// The postings of the keys of two units, by key (first unit << 16 | second):
// an open-addressing table, as a build looks a key up for every position of
// every text.
class PairTable {
 public:
  PairTable() : slots_(kInitialSlots) {}

  Postings& at(std::uint32_t key) { return postings_[index_of(key)]; }

  // The index of the postings of `key`, added when new.
  std::size_t index_of(std::uint32_t key) {
    std::size_t slot = probe_start(key);
    while (slots_[slot].index != 0) {
      if (slots_[slot].key == key) return slots_[slot].index - 1;
      slot = (slot + 1) & (slots_.size() - 1);
    }
    if ((postings_.size() + 1) * 2 > slots_.size()) {
      grow();
      return index_of(key);
    }
    postings_.emplace_back();
    pair_keys_.push_back(key);
    slots_[slot] = Slot{static_cast<std::uint32_t>(postings_.size()), key};
    return postings_.size() - 1;
  }
  Postings& postings(std::size_t i) { return postings_[i]; }

  // Asks for the memory at(key) looks at first.
  void prefetch(std::uint32_t key) const { larkspur::prefetch(&slots_[probe_start(key)]); }

  std::size_t size() const { return postings_.size(); }
  std::uint32_t key(std::size_t i) const { return pair_keys_[i]; }
  const Postings& postings(std::size_t i) const { return postings_[i]; }

 private:
  static constexpr std::size_t kInitialSlots = 1 << 16;

  // A used slot's entry and its key side by side: one memory access a probe.
  struct Slot {
    std::uint32_t index = 0;  // index + 1 into postings_; 0 free
    std::uint32_t key = 0;
  };

  std::size_t probe_start(std::uint32_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B1u) ^ (key >> 15)) & (slots_.size() - 1);
  }

  void grow() {
    std::vector<Slot> old_slots(slots_.size() * 2);
    old_slots.swap(slots_);
    for (std::size_t i = 0; i < pair_keys_.size(); ++i) {
      std::size_t slot = probe_start(pair_keys_[i]);
      while (slots_[slot].index != 0) slot = (slot + 1) & (slots_.size() - 1);
      slots_[slot] = Slot{static_cast<std::uint32_t>(i + 1), pair_keys_[i]};
    }
  }

  std::vector<Slot> slots_;
  std::vector<Postings> postings_;
  std::vector<std::uint32_t> pair_keys_;  // the key of each entry of postings_
};

// The largest gap a reader takes: more than any generation's ids, so a
// damaged file cannot make it allocate without end.
constexpr unsigned long kMaxGap = 1ul << 31;

// The value of each ASCII character as a digit; npos for none. A build
// reads every key's digits back (append_shortest).
constexpr std::array<std::size_t, 0x80> kDigitValues = [] {
  std::array<std::size_t, 0x80> values{};
  values.fill(std::string_view::npos);
  for (std::size_t i = 0; i < kDigits.size(); ++i) values[static_cast<unsigned char>(kDigits[i])] = i;
  return values;
}();

template <typename Char>
std::size_t digit_value(Char d) {
  const auto code = static_cast<std::uint32_t>(d);
  return code < kDigitValues.size() ? kDigitValues[code] : std::string_view::npos;
}

// The ids of a Rice code (the digits after kRiceMark).
template <typename Char>
std::vector<long> decode_rice(std::basic_string_view<Char> digits) {
  std::vector<long> ids;
  if (digits.empty()) return ids;
  const std::size_t k = digit_value(digits[0]);
  if (k > kMaxRiceParameter) return ids;
  long last = -1;
  unsigned long quotient = 0;
  unsigned long remainder = 0;
  std::size_t remainder_bits = 0;
  bool in_remainder = false;
  for (std::size_t i = 1; i < digits.size(); ++i) {
    const std::size_t value = digit_value(digits[i]);
    if (value == std::string_view::npos) break;
    for (int b = kDigitBits - 1; b >= 0; --b) {
      const unsigned bit = (value >> b) & 1;
      if (!in_remainder) {
        if (bit != 0) {
          if (++quotient > (kMaxGap >> k)) return ids;
          continue;
        }
        in_remainder = true;
      } else {
        remainder = remainder << 1 | bit;
        ++remainder_bits;
      }
      if (remainder_bits == k) {
        last += static_cast<long>(quotient << k | remainder) + 1;
        ids.push_back(last);
        quotient = remainder = remainder_bits = 0;
        in_remainder = false;
      }
    }
  }
  return ids;
}

template <typename Char>
std::vector<long> decode_postings(std::basic_string_view<Char> digits) {
  if (!digits.empty() && digits[0] == static_cast<Char>(kRiceMark)) return decode_rice(digits.substr(1));
  std::vector<long> ids;
  long last = -1;
  unsigned long gap = 0;
  unsigned shift = 0;
  bool run = false;  // the number being read is a run's length
  for (const Char d : digits) {
    if (d == static_cast<Char>(kRunMark) && !run && shift == 0) {
      run = true;
      continue;
    }
    const std::size_t value = digit_value(d);
    if (value == std::string_view::npos || shift > 60) break;
    if (value >= kMoreDigits) {
      gap |= static_cast<unsigned long>(value - kMoreDigits) << shift;
      shift += kGapBits;
      continue;
    }
    gap |= static_cast<unsigned long>(value) << shift;
    if (run) {
      // Bounded by the ids any generation can hold: a damaged file cannot
      // make the reader allocate without end.
      for (unsigned long i = 0; i < gap && i < kMaxGap; ++i) ids.push_back(++last);
    } else {
      last += static_cast<long>(gap) + 1;
      ids.push_back(last);
    }
    gap = 0;
    shift = 0;
    run = false;
  }
  return ids;
}
std::vector<long> decode_postings(std::u16string_view digits) { return decode_postings<char16_t>(digits); }

// Bits onto digits, six a digit, most significant first.
class DigitWriter {
 public:
  explicit DigitWriter(std::string& out) : out_(out) {}
  // The low `count` (at most 32) bits of `value`.
  void put(std::uint64_t value, unsigned count) {
    bits_ = bits_ << count | (value & ((std::uint64_t{1} << count) - 1));
    pending_ += count;
    while (pending_ >= kDigitBits) {
      pending_ -= kDigitBits;
      out_ += kDigits[(bits_ >> pending_) & ((1u << kDigitBits) - 1)];
    }
  }
  // Fills the last digit with 1 bits.
  void finish() {
    if (pending_ != 0) put(~std::uint64_t{0}, kDigitBits - pending_);
  }

 private:
  std::string& out_;
  std::uint64_t bits_ = 0;
  unsigned pending_ = 0;
};

// `ids` (ascending) as a Rice code, the mark and parameter first.
void append_rice(std::string& out, const std::vector<long>& ids, unsigned k) {
  out += kRiceMark;
  out += kDigits[k];
  DigitWriter writer(out);
  long last = -1;
  for (const long id : ids) {
    const auto gap = static_cast<std::uint64_t>(id - last - 1);
    last = id;
    std::uint64_t quotient = gap >> k;
    for (; quotient >= 32; quotient -= 32) writer.put(~std::uint64_t{0}, 32);
    writer.put(((std::uint64_t{1} << quotient) - 1) << 1, static_cast<unsigned>(quotient) + 1);
    if (k != 0) writer.put(gap, k);
  }
  writer.finish();
}

// The digits of `digits`' postings in whichever form is shorter: as they
// are, or as a Rice code with the best parameter near the one the mean gap
// suggests.
void append_shortest(std::string& out, std::string_view digits) {
  // A key of few ids is written as it is: a Rice code could save a digit or two.
  constexpr std::size_t kMinRiceDigits = 4;
  if (digits.size() < kMinRiceDigits) {
    out += digits;
    return;
  }
  const std::vector<long> ids = decode_postings(digits);
  if (ids.empty()) {
    out += digits;
    return;
  }
  const double mean_gap = static_cast<double>(ids.back() + 1 - static_cast<long>(ids.size())) / static_cast<double>(ids.size());
  unsigned guess = 0;
  while (guess < kMaxRiceParameter && static_cast<double>(std::uint64_t{2} << guess) < mean_gap) ++guess;
  // The bits of the parameters guess - 1, guess and guess + 1, in one pass.
  const unsigned low = guess == 0 ? 0 : guess - 1;
  std::uint64_t quotients[3] = {0, 0, 0};
  long last = -1;
  for (const long id : ids) {
    const auto gap = static_cast<std::uint64_t>(id - last - 1);
    last = id;
    for (unsigned i = 0; i < 3; ++i) quotients[i] += gap >> (low + i);
  }
  std::uint64_t best_bits = UINT64_MAX;
  unsigned best = 0;
  for (unsigned i = 0; i < 3 && low + i <= kMaxRiceParameter; ++i) {
    const std::uint64_t bits = ids.size() * (std::uint64_t{low} + i + 1) + quotients[i];
    if (bits < best_bits) {
      best_bits = bits;
      best = low + i;
    }
  }
  if ((best_bits + kDigitBits - 1) / kDigitBits + 2 >= digits.size()) {
    out += digits;
  } else {
    append_rice(out, ids, best);
  }
}

// A posting file as KeyTable::shard_files writes it without `shortest`,
// with every key's postings in their shortest form: the build hashes the
// first (cheap to make) and makes this only for a file it must write.
std::string shortest_postings(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  std::size_t i = raw.find(",\"");  // the head holds numbers only
  std::size_t copied = 0;
  while (i != std::string_view::npos && i + 2 < raw.size() && raw.compare(i, 2, ",\"") == 0) {
    std::size_t key_end = i + 2;  // the key literal's closing quote
    while (key_end < raw.size() && raw[key_end] != '"') key_end += raw[key_end] == '\\' ? 2 : 1;
    if (key_end >= raw.size() || raw.compare(key_end, 3, "\",\"") != 0) break;
    const std::size_t digits_at = key_end + 3;
    const std::size_t digits_end = raw.find('"', digits_at);
    if (digits_end == std::string_view::npos) break;
    out.append(raw, copied, digits_at - copied);
    append_shortest(out, raw.substr(digits_at, digits_end - digits_at));
    copied = digits_end;
    i = digits_end + 1;
  }
  out.append(raw, copied);
  return out;
}

// The postings of every key of a whole generation, while it is built.
class KeyTable {
 public:
  KeyTable() : single_(0x10000) {}

  // Adds message `id` (ids come in ascending order) under its distinct keys.
  void add_keys(long id, const std::vector<char16_t>& singles, const std::vector<std::uint32_t>& pairs) {
    for (char16_t unit : singles) single_[unit].add(id);
    for (std::uint32_t pair : pairs) pairs_.at(pair).add(id);
  }

  // The keys of a block of messages, taken key by key rather than message by
  // message: a build's time goes to finding a key's postings in memory, and
  // a frequent key is then found once a block.
  class Block {
   public:
    void add(long id, const std::vector<char16_t>& singles, const std::vector<std::uint32_t>& pairs) {
      for (char16_t unit : singles) entries_.push_back(static_cast<std::uint64_t>(unit) << 32 | static_cast<std::uint32_t>(id));
      for (std::uint32_t pair : pairs) {
        entries_.push_back((static_cast<std::uint64_t>(pair) + 0x10000) << 32 | static_cast<std::uint32_t>(id));
      }
    }
    std::size_t size() const { return entries_.size(); }

   private:
    friend class KeyTable;
    // Sorts by key, ids ascending within a key: a stable radix sort of the
    // key (units below 0x10000, pairs above), 11 bits a pass.
    void sort() {
      constexpr unsigned kBits = 11;
      constexpr unsigned kPasses = 3;
      constexpr std::size_t kBuckets = std::size_t{1} << kBits;
      constexpr std::uint64_t kMask = kBuckets - 1;
      scratch_.resize(entries_.size());
      // Every pass's counts in one reading of the entries.
      std::vector<std::size_t> start(kPasses * kBuckets, 0);
      for (std::uint64_t e : entries_) {
        for (unsigned pass = 0; pass < kPasses; ++pass) ++start[pass * kBuckets + ((e >> (32 + pass * kBits)) & kMask)];
      }
      for (unsigned pass = 0; pass < kPasses; ++pass) {
        std::size_t* counts = start.data() + pass * kBuckets;
        // A pass whose digit is the same in every entry moves nothing.
        if (std::find(counts, counts + kBuckets, entries_.size()) != counts + kBuckets) continue;
        std::size_t sum = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) sum += std::exchange(counts[b], sum);
        const unsigned shift = 32 + pass * kBits;
        for (std::uint64_t e : entries_) scratch_[counts[(e >> shift) & kMask]++] = e;
        entries_.swap(scratch_);
      }
    }
    std::vector<std::uint64_t> entries_;  // key << 32 | id
    std::vector<std::uint64_t> scratch_;
  };

  // Adds a block's keys (its ids above every id the table has) and empties it.
  void add_block(Block& block) {
    block.sort();
    // The block's keys, each with the first of its entries, then their
    // postings, then the ids: the tables and the postings are far larger
    // than the processor's caches, so the memory each key needs is asked for
    // a few keys ahead of its use.
    constexpr std::size_t kAhead = 8;
    const std::vector<std::uint64_t>& entries = block.entries_;
    runs_.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i == 0 || entries[i] >> 32 != entries[i - 1] >> 32) runs_.push_back({entries[i] >> 32, i, 0, nullptr});
    }
    // Keys new to the table are added in the order of the block, as one by
    // one; the postings move while they are added, so they are taken after.
    for (std::size_t k = 0; k < runs_.size(); ++k) {
      if (k + kAhead < runs_.size() && runs_[k + kAhead].key >= 0x10000) {
        pairs_.prefetch(static_cast<std::uint32_t>(runs_[k + kAhead].key - 0x10000));
      }
      if (runs_[k].key >= 0x10000) runs_[k].pair = pairs_.index_of(static_cast<std::uint32_t>(runs_[k].key - 0x10000));
    }
    for (Run& run : runs_) run.postings = run.key < 0x10000 ? &single_[run.key] : &pairs_.postings(run.pair);
    for (std::size_t k = 0; k < runs_.size(); ++k) {
      if (k + kAhead < runs_.size()) prefetch(runs_[k + kAhead].postings);
      if (k + kAhead / 2 < runs_.size()) {
        const std::string& digits = runs_[k + kAhead / 2].postings->digits;
        prefetch(digits.data() + digits.size());
      }
      Postings& postings = *runs_[k].postings;
      const std::size_t end = k + 1 < runs_.size() ? runs_[k + 1].first : entries.size();
      for (std::size_t i = runs_[k].first; i < end; ++i) postings.add(static_cast<long>(entries[i] & 0xFFFFFFFFu));
    }
    block.entries_.clear();
  }

  // Appends the postings of `other`, whose ids all follow this table's.
  void append(const KeyTable& other) {
    for (std::size_t u = 0; u < single_.size(); ++u) single_[u].append(other.single_[u]);
    for (std::size_t i = 0; i < other.pairs_.size(); ++i) pairs_.at(other.pairs_.key(i)).append(other.pairs_.postings(i));
  }

  // Adds the ids (ascending, above every id the key has) of a key of one or
  // two units: a merge of segments.
  void add_ids(std::u16string_view key, const std::vector<long>& ids) {
    if (key.empty() || key.size() > 2) return;
    Postings& postings = key.size() == 1 ? single_[key[0]] : pairs_.at((static_cast<std::uint32_t>(key[0]) << 16) | key[1]);
    for (long id : ids) postings.add(id);
  }

  // The bytes of every shard file of `shards`, each opened by `head` and its
  // shard number ("LS.p(" for a generation's, "LS.q(<first>," for a segment's).
  // `threads` threads share the work, each over the shards of its remainder.
  // `shortest`: each key's postings in their shortest form (append_shortest),
  // else as they are (shortest_postings makes the file's final form).
  std::vector<std::string> shard_files(long shards, const std::string& head,
                                       unsigned threads = 1, bool shortest = true) const {
    std::vector<std::string> files(static_cast<std::size_t>(shards));
    for (long s = 0; s < shards; ++s) files[s] = head + std::to_string(s);
    const auto fill = [&](unsigned t) {
      std::string digits;
      const auto mine = [&](int shard) { return static_cast<unsigned>(shard) % threads == t; };
      for (std::size_t u = 0; u < single_.size(); ++u) {
        if (single_[u].last < 0) continue;
        const char16_t key[1] = {static_cast<char16_t>(u)};
        const int shard = shard_of(key[0], -1, shards);
        if (mine(shard)) append_entry(files[shard], std::u16string_view(key, 1), single_[u], digits, shortest);
      }
      for (std::size_t i = 0; i < pairs_.size(); ++i) {
        const std::uint32_t pair = pairs_.key(i);
        const char16_t key[2] = {static_cast<char16_t>(pair >> 16), static_cast<char16_t>(pair & 0xFFFF)};
        const int shard = shard_of(key[0], key[1], shards);
        if (mine(shard)) append_entry(files[shard], std::u16string_view(key, 2), pairs_.postings(i), digits, shortest);
      }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(fill, t);
    fill(0);
    for (std::thread& helper : helpers) helper.join();
    for (std::string& file : files) file += ");\n";
    return files;
  }

 private:
  static void append_entry(std::string& file, std::u16string_view key, const Postings& postings, std::string& digits,
                           bool shortest) {
    file += ',';
    append_literal(file, key);
    file += ",\"";
    if (shortest) {
      digits.clear();
      postings.append_to(digits);
      append_shortest(file, digits);
    } else {
      postings.append_to(file);
    }
    file += '"';
  }

  struct Run {
    std::uint64_t key;
    std::size_t first;  // its first entry
    std::size_t pair;   // a pair's index in pairs_
    Postings* postings;
  };

  std::vector<Postings> single_;
  PairTable pairs_;
  std::vector<Run> runs_;  // add_block's, kept for its memory
};

// What a build takes from one log, made by any of its threads.
struct PreparedLog {
  std::string text_literal;     // Shift_JIS, for the text files
  std::string subject_literal;  // UTF-8, for m.js
  std::string subject_sjis;     // for the text files (chunk_subject)
  std::vector<char16_t> singles;     // distinct keys of one unit
  std::vector<std::uint32_t> pairs;  // distinct keys of two units (first << 16 | second)
};

// The distinct keys of a text into `out`.
// The keys one text has seen, for taking each once in linear time: a mark
// per unit and a table of pairs, both stamped with the text's number, so
// nothing is cleared between texts. One per thread.
class SeenKeys {
 public:
  SeenKeys() : single_(0x10000, 0) {}

  void start(std::size_t units) {
    if (++stamp_ == 0) {  // wrapped: every old mark could match again
      std::fill(single_.begin(), single_.end(), 0);
      std::fill(pairs_.begin(), pairs_.end(), Slot{});
      stamp_ = 1;
    }
    std::size_t slots = kMinSlots;
    while (slots < units * 2) slots *= 2;
    if (slots > pairs_.size()) pairs_.assign(slots, Slot{});
  }
  bool first_single(char16_t unit) {
    if (single_[unit] == stamp_) return false;
    single_[unit] = stamp_;
    return true;
  }
  bool first_pair(std::uint32_t pair) {
    const std::size_t mask = pairs_.size() - 1;
    for (std::size_t slot = ((pair * 0x9E3779B1u) ^ (pair >> 13)) & mask;; slot = (slot + 1) & mask) {
      Slot& at = pairs_[slot];
      if (at.stamp != stamp_) {
        at = Slot{pair, stamp_};
        return true;
      }
      if (at.key == pair) return false;
    }
  }

 private:
  // A pair and the text it was seen in, side by side: one memory access a
  // probe.
  struct Slot {
    std::uint32_t key = 0;
    std::uint32_t stamp = 0;
  };
  static constexpr std::size_t kMinSlots = 1 << 12;
  std::uint32_t stamp_ = 0;
  std::vector<std::uint32_t> single_;
  std::vector<Slot> pairs_;
};

// is_search_blank, answered at once for the units a text is mostly made of
// (ASCII letters and digits, kana, ideographs).
bool is_blank_unit(char16_t u) {
  if ((u > 0x20 && u < 0xA0) || (u > 0x3000 && u < 0xFEFF)) return false;
  return is_search_blank(u);
}

// The distinct keys of a text into `out`, in the order they first occur.
void collect_keys(std::u16string_view text, PreparedLog& out) {
  thread_local SeenKeys seen;
  const std::u16string folded = platform::fold_for_search(text);
  seen.start(folded.size());
  bool blank = folded.empty() || is_blank_unit(folded[0]);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    const char16_t a = folded[i];
    const bool next_blank = i + 1 >= folded.size() || is_blank_unit(folded[i + 1]);
    if (!blank) {
      if (seen.first_single(a)) out.singles.push_back(a);
      if (!next_blank) {
        const std::uint32_t pair = (static_cast<std::uint32_t>(a) << 16) | folded[i + 1];
        if (seen.first_pair(pair)) out.pairs.push_back(pair);
      }
    }
    blank = next_blank;
  }
}

// A subject as a text file holds it: 0 where it is its text's first line
// (the text is the subject, a line break and the body: a subject without
// a line break), else a Shift_JIS literal.
std::string chunk_subject(std::u16string_view subject) {
  if (subject.find(u'\n') == std::u16string_view::npos) return "0";
  std::string out;
  append_sjis_literal(out, subject);
  return out;
}

PreparedLog prepare_log(std::string_view log) {
  PreparedLog out;
  const std::u16string text = search_text(log);
  append_sjis_literal(out.text_literal, text);
  const std::u16string subject = search_subject(log);
  append_literal(out.subject_literal, subject);
  out.subject_sjis = chunk_subject(subject);
  collect_keys(text, out);
  return out;
}

// The text files of consecutive messages: t<C>.js holds the texts of ids
// C * kSearchChunkDocs on (the page finds a text at its id's remainder, so
// a run of ids starts at a chunk's first id). Its content is a head line,
// "C,<length of each text's literal>,<length of each subject's>", then those
// literals (append_sjis_literal; a subject as chunk_subject writes it) one
// after the other. A reader finds one message's literals by the lengths and
// decodes those alone: a query needs a message or two of a file.
class ChunkFiles {
 public:
  using Writer = std::function<void(std::string name, const std::string& bytes)>;
  explicit ChunkFiles(Writer write) : write_(std::move(write)) {}

  void add(long id, const std::string& text_literal, const std::string& subject_literal) {
    if (!head_.empty() && id / kSearchChunkDocs != chunk_) finish();
    if (head_.empty()) {
      chunk_ = id / kSearchChunkDocs;
      head_ = std::to_string(chunk_);
    }
    head_ += ',';
    head_ += std::to_string(text_literal.size());
    subject_lengths_ += ',';
    subject_lengths_ += std::to_string(subject_literal.size());
    texts_ += text_literal;
    subjects_ += subject_literal;
  }
  void finish() {
    if (head_.empty()) return;
    write_("t" + std::to_string(chunk_) + ".js", head_ + subject_lengths_ + "\n" + texts_ + subjects_);
    head_.clear();
    subject_lengths_.clear();
    texts_.clear();
    subjects_.clear();
  }

 private:
  Writer write_;
  long chunk_ = 0;
  std::string head_;
  std::string subject_lengths_;
  std::string texts_;
  std::string subjects_;
};

// A text file's message texts, as ChunkFiles writes them; none when the
// file is not one it wrote.
class ChunkTexts {
 public:
  // `content`: the file of chunk `chunk`.
  ChunkTexts(std::string content, long chunk) : content_(std::move(content)) {
    const std::size_t end = content_.find('\n');
    if (end == std::string::npos) return;
    std::vector<std::size_t> lengths;
    for (std::size_t at = 0;;) {
      std::size_t next = content_.find(',', at);
      if (next == std::string::npos || next > end) next = end;
      const std::string_view field(content_.data() + at, next - at);
      std::size_t value = 0;
      if (field.empty() || field.size() > 9 || !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) return;
      for (const char c : field) value = value * 10 + static_cast<std::size_t>(c - '0');
      lengths.push_back(value);
      if (next == end) break;
      at = next + 1;
    }
    if (lengths.size() < 3 || lengths.size() % 2 == 0 || lengths[0] != static_cast<std::size_t>(chunk)) return;
    std::vector<std::size_t> starts{end + 1};
    for (std::size_t i = 1; i < lengths.size(); ++i) starts.push_back(starts.back() + lengths[i]);
    if (starts.back() != content_.size()) return;
    texts_ = (lengths.size() - 1) / 2;
    starts_ = std::move(starts);
  }
  // The text of the chunk's `index`th message; nullopt when it has none.
  std::optional<std::u16string> text(std::size_t index) const {
    if (index >= texts_) return std::nullopt;
    return CallReader(std::string_view(content_).substr(starts_[index], starts_[index + 1] - starts_[index]), true).literal();
  }

 private:
  std::string content_;
  std::vector<std::size_t> starts_;  // of each literal, then the end
  std::size_t texts_ = 0;
};

// Threads of a build, each over a run of the messages: the files are the
// same for the same logs and number of threads.
// Keys of messages a build takes at once (see KeyTable::Block), about.
constexpr std::size_t kBlockKeys = 1 << 18;
constexpr unsigned kBuildThreads = 2;

// The keys a word needs: itself when of one or two units (whose postings
// then answer exactly), else each of its pairs (which only select).
std::vector<std::u16string> keys_of_word(std::u16string_view word) {
  if (word.size() <= 2) return {std::u16string(word)};
  std::vector<std::u16string> keys;
  for (std::size_t i = 0; i + 1 < word.size(); ++i) keys.emplace_back(word.substr(i, 2));
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

bool holds_every_word(std::u16string_view folded, const std::vector<std::u16string>& words) {
  return std::all_of(words.begin(), words.end(),
                     [folded](const std::u16string& w) { return folded.find(w) != std::u16string_view::npos; });
}

// ----------------------------------------------------------------- state

struct TailDoc {
  long id = 0;
  long list = 0;
  std::u16string name;
  std::u16string subject;
};

// Messages stored after the generation was built, taken from the tail a
// tail at a time: ids first to end - 1 (first a chunk's first id), postings
// in `shards` files "s<first>_<end>p<K>.js" (LS.q lines), list, name and
// subject of each in "s<first>_<end>m.js" (LS.sm lines), texts in the
// generation's chunk files. The last kSearchMergeSegments segments merge into
// one when they are of one size class, so their count stays small.
struct Segment {
  long first = 0;
  long end = 0;
  long shards = 1;
};

// A count of posting files: a power of two, at most kSearchShards.
bool valid_shard_count(long shards) { return shards >= 1 && shards <= kSearchShards && (shards & (shards - 1)) == 0; }

// Posting files for `messages` messages: the least power of two that gives
// each file about `per_file` messages' keys, at most `most`. A generation's
// and a segment's counts differ only in those two.
long shard_count_for(long messages, long per_file, long most) {
  long shards = 1;
  while (shards < most && shards * per_file < messages) shards *= 2;
  return shards;
}

struct State {
  std::string generation;  // hash name
  long docs = 0;  // ids below it are the generation's and its segments'; the tail's follow
  long shards = kSearchShards;  // the generation's posting files (shard_count_for)
  std::vector<Segment> segments;  // ascending
  std::vector<std::string> lists;  // Shift_JIS
  // Per list, the greatest log name (no extension) the generation holds:
  // a log named above it cannot be in the generation.
  std::vector<std::u16string> newest;
  std::vector<TailDoc> tail;  // ids docs, docs + 1, ...
  // Ids of the generation whose logs are gone or were changed since it was
  // built (a rebuild that kept it found them so), ascending: they are never
  // answered (a changed log is in a segment as it is now).
  std::vector<long> gone;
};

// True when log name `a` ("YYYYMMDDhhmmss_N") comes after `b`: by the time,
// then by the number (a job's tenth log of a second follows its ninth).
bool stored_later(std::u16string_view a, std::u16string_view b) {
  constexpr std::size_t kTime = 14;
  if (a.substr(0, kTime) != b.substr(0, kTime)) return a.substr(0, kTime) > b.substr(0, kTime);
  const std::u16string_view na = a.substr(std::min(a.size(), kTime));
  const std::u16string_view nb = b.substr(std::min(b.size(), kTime));
  return na.size() != nb.size() ? na.size() > nb.size() : na > nb;
}

std::string sjis_of(std::u16string_view text) {
  return platform::utf8_to_sjis(platform::utf16_to_utf8_replacing(text)).value_or(std::string{});
}

std::optional<State> read_state() {
  const auto calls = read_calls(kSearchState);
  if (!calls || calls->empty() || (*calls)[0].name != "state") return std::nullopt;
  State state;
  state.generation = sjis_of(text_at((*calls)[0], 0));
  state.docs = number_at((*calls)[0], 1);
  state.shards = number_at((*calls)[0], 2);
  if (state.generation.empty() ||
      !std::all_of(state.generation.begin(), state.generation.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }) ||
      state.docs < 0 || !valid_shard_count(state.shards) ||
      number_at((*calls)[0], 3) != kSearchChunkDocs || number_at((*calls)[0], 4) != kIndexFormat) {
    return std::nullopt;  // written with other parameters: build anew
  }
  for (std::size_t i = 1; i < calls->size(); ++i) {
    const Call& call = (*calls)[i];
    if (call.name == "list") {
      state.lists.push_back(sjis_of(text_at(call, 0)));
      state.newest.push_back(text_at(call, 1));
    } else if (call.name == "tail") {
      state.tail.push_back({number_at(call, 0), number_at(call, 1), text_at(call, 2), text_at(call, 3)});
    } else if (call.name == "gone") {
      for (std::size_t a = 0; a < call.arguments.size(); ++a) state.gone.push_back(number_at(call, a));
      if (!std::is_sorted(state.gone.begin(), state.gone.end())) return std::nullopt;
    } else if (call.name == "seg") {
      const Segment segment{number_at(call, 0), number_at(call, 1), number_at(call, 2)};
      const long previous_end = state.segments.empty() ? 0 : state.segments.back().end;
      if (segment.first < previous_end || segment.end <= segment.first || segment.end > state.docs ||
          !valid_shard_count(segment.shards)) {
        return std::nullopt;
      }
      state.segments.push_back(segment);
    }
  }
  return state;
}

bool write_state(const State& state) {
  std::string out = "LS.state(\"" + state.generation + "\"," + std::to_string(state.docs) + "," +
                    std::to_string(state.shards) + "," + std::to_string(kSearchChunkDocs) + "," + std::to_string(kIndexFormat) + ");\n";
  for (std::size_t l = 0; l < state.lists.size(); ++l) {
    out += "LS.list(";
    append_literal_sjis(out, state.lists[l]);
    out += ',';
    append_literal(out, l < state.newest.size() ? state.newest[l] : std::u16string());
    out += ");\n";
  }
  for (const Segment& segment : state.segments) {
    out += "LS.seg(" + std::to_string(segment.first) + "," + std::to_string(segment.end) + "," +
           std::to_string(segment.shards) + ");\n";
  }
  for (const TailDoc& doc : state.tail) {
    out += "LS.tail(" + std::to_string(doc.id) + "," + std::to_string(doc.list) + ",";
    append_literal(out, doc.name);
    out += ',';
    append_literal(out, doc.subject);
    out += ");\n";
  }
  // Last: a page of an older Larkspur still open, which lacks this call,
  // stops here having read the rest.
  if (!state.gone.empty()) {
    out += "LS.gone(";
    for (std::size_t i = 0; i < state.gone.size(); ++i) out += (i == 0 ? "" : ",") + std::to_string(state.gone[i]);
    out += ");\n";
  }
  return write_index_file(kSearchState, out);
}

// Removes a generation folder and what it holds.
void remove_generation(const std::string& folder) {
  for (const std::string& name : platform::find_files(folder + "\\*")) platform::delete_file(folder + "\\" + name);
  platform::remove_folder(folder);
}

}  // namespace

bool write_search_page() {
  platform::create_folder(kSearchFolder);
  const std::string page = search_page_html();
  if (platform::read_file(kSearchPage) == page) return true;
  return write_index_file(kSearchPage, page);
}

namespace {

bool write_page_if_changed() {
  const std::string page = search_page_html();
  if (platform::read_file(kSearchPage) == page) return true;
  return write_index_file(kSearchPage, page);
}

std::string without_log_extension(std::string_view name) {
  return std::string(name.ends_with(".log") ? name.substr(0, name.size() - 4) : name);
}

}  // namespace

// --------------------------------------------------------------- queries

bool is_search_blank(char16_t u) {
  return u == u' ' || (u >= 0x09 && u <= 0x0D) || u == 0xA0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200A) ||
         u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F || u == 0x3000 || u == 0xFEFF;
}

std::vector<std::u16string> search_words(std::u16string_view query) {
  const std::u16string folded = platform::fold_for_search(query);
  std::vector<std::u16string> words;
  std::size_t i = 0;
  while (i < folded.size()) {
    while (i < folded.size() && is_search_blank(folded[i])) ++i;
    const std::size_t start = i;
    while (i < folded.size() && !is_search_blank(folded[i])) ++i;
    if (i > start) words.emplace_back(folded.substr(start, i - start));
  }
  return words;
}

std::string SearchHit::page_path() const { return list_folder(list) + "\\web\\" + log_name + ".htm"; }

// ---------------------------------------------------------------- writers

namespace {

// What a generation was built from ("search\\sources.txt", read by builds
// alone), a line each:
//   generation <name>
//   docs <messages>
//   lists <how many of state.js's first lists it knows>
//   sources <hash>      (or "-": never kept)
//   stamps <digest>...  (each log's, in the order of the ids; 8 hex digits each)
//   file <name> <hash>  (its files, with the hashes of their contents)
// The sources hash covers those lists' names, the layout and the folding; a
// log's digest, its name and FileStamp. A rebuild that finds the sources as
// they were, and the generation's files all as they were written, keeps
// that generation: deriving every message's keys again takes seconds for an
// archive of tens of thousands of messages. Its messages whose logs are gone
// or changed are marked gone in the state; the changed ones and the logs
// stored since go into one new segment, derived afresh (see keep_generation).
// Anything else, or too many changes, builds anew.
constexpr std::string_view kSearchSources = "search\\sources.txt";
// Raised whenever what a build derives from a log (the text searched, its
// keys) changes without the layout changing: an index an older Larkspur
// built is then built anew by the first rebuild.
constexpr int kSourcesVersion = 1;
// A rebuild builds anew when more than one log in this many came after the
// generation or changed since: a new generation answers from one posting
// file per key, and its build runs on every thread, while a segment is
// derived on one.
constexpr std::size_t kMaxAddedShareInverse = 4;
constexpr std::size_t kDigestDigits = 8;
constexpr std::string_view kUnsettledDigest = "00000000";
static_assert(kUnsettledDigest.size() == kDigestDigits);

struct LogEntry {
  std::string name;  // log file name
  long list;
};

// Folding that differs between two builds (another system's Unicode tables)
// gives other keys: a hash of what it makes of characters each of its steps
// touches.
std::uint64_t folding_fingerprint() {
  static constexpr std::u16string_view kProbe =
      u"ＡＺａｚ０９ABCxyzÀÉÖåßſﬁĲǅΣσςДдӀ①Ⅻ㍻㌔㈱ｶﾞｷﾟﾊﾟｱｲｳｰ･｡「」～〜－―‐"
      u"…‥　、。がガか\u3099は\u309Aゟヿ\u00A0\u2002\u2126\u212B\u1E9E\uFF5F";
  const std::u16string folded = platform::fold_for_search(kProbe);
  SearchHash hash;
  hash.add(std::string_view(reinterpret_cast<const char*>(folded.data()), folded.size() * sizeof(char16_t)));
  return hash.value();
}

// The sources hash of a generation of the lists `lists`.
std::string sources_hash(std::span<const std::string> lists) {
  SearchHash hash;
  const auto add_number = [&](std::uint64_t n) { hash.add(std::string_view(reinterpret_cast<const char*>(&n), sizeof n)); };
  add_number(kSourcesVersion);
  add_number(static_cast<std::uint64_t>(kIndexFormat));
  add_number(folding_fingerprint());
  add_number(lists.size());
  for (const std::string& list : lists) hash.add(list);
  return hex_of(hash.value());
}

// A log's digest as sources.txt records it: of its name and stamp, 32 bits
// in kDigestDigits hex digits. All zeros (kUnsettledDigest) stands for a log
// that may have changed unseen, which no log's digest matches.
std::string stamp_digest(std::string_view log_name, const platform::FileStamp& stamp) {
  SearchHash hash;
  hash.add(log_name);
  for (const std::uint64_t n : {stamp.size, stamp.modified, stamp.changed, stamp.id}) {
    hash.add(std::string_view(reinterpret_cast<const char*>(&n), sizeof n));
  }
  const auto digest = static_cast<std::uint32_t>(hash.value() ^ (hash.value() >> 32));
  return hex_of(digest == 0 ? 1 : digest).substr(16 - kDigestDigits);
}

struct Sources {
  std::string generation;
  long docs = 0;
  std::size_t lists = 0;
  std::string hash;
  std::string stamps;  // kDigestDigits hex digits a message
  std::vector<std::pair<std::string, std::uint64_t>> files;
};

std::optional<Sources> read_sources() {
  const std::optional<std::string> text = platform::read_file(kSearchSources);
  if (!text) return std::nullopt;
  Sources sources;
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    const std::string_view line = std::string_view(*text).substr(at, end - at);
    at = end + 1;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, space);
    const std::string value(line.substr(space + 1));
    if (key == "generation") {
      sources.generation = value;
    } else if (key == "docs") {
      sources.docs = std::atol(value.c_str());
    } else if (key == "lists") {
      sources.lists = static_cast<std::size_t>(std::atol(value.c_str()));
    } else if (key == "sources") {
      sources.hash = value;
    } else if (key == "stamps") {
      sources.stamps = value;
    } else if (key == "file") {
      const std::size_t split = value.rfind(' ');
      if (split == std::string::npos || value.size() - split - 1 != 16) return std::nullopt;
      char* stop = nullptr;
      const std::uint64_t file = std::strtoull(value.c_str() + split + 1, &stop, 16);
      if (*stop != '\0') return std::nullopt;
      sources.files.emplace_back(value.substr(0, split), file);
    }
  }
  return sources;
}

bool write_sources(const Sources& sources) {
  std::string out = "generation " + sources.generation + "\ndocs " + std::to_string(sources.docs) + "\nlists " +
                    std::to_string(sources.lists) + "\nsources " + sources.hash + "\nstamps " + sources.stamps + "\n";
  for (const auto& [name, hash] : sources.files) out += "file " + name + " " + hex_of(hash) + "\n";
  return write_index_file(kSearchSources, out);
}

// The logs of the lists now, with their stamps (nullopt: not looked at).
struct CurrentLogs {
  std::vector<std::string> lists;
  std::vector<LogEntry> entries;  // in the order of a build
  std::vector<std::optional<platform::FileStamp>> stamps;
};

// What a rebuild keeps of the current generation.
struct KeptGeneration {
  std::vector<bool> held;  // by the index of CurrentLogs::entries: the generation holds the log as it is
  std::vector<long> gone;  // ids of the generation whose logs are gone or changed, ascending
};

// What of `logs` the current generation of `state` holds as it is now (per
// `sources`), when the generation may be kept: its sources unchanged, not
// too many logs changed or new, its files all as written. nullopt: the
// index is to be built anew.
std::optional<KeptGeneration> keepable_generation(const State& state, const Sources& sources, const CurrentLogs& logs) {
  if (sources.generation != state.generation || sources.hash == "-" || sources.lists > state.lists.size() ||
      sources.docs < 0 || sources.stamps.size() != static_cast<std::size_t>(sources.docs) * kDigestDigits) {
    return std::nullopt;
  }
  const std::span<const std::string> lists(state.lists.data(), sources.lists);
  if (sources_hash(lists) != sources.hash) return std::nullopt;
  GenerationHash generation;
  for (const auto& [name, file] : sources.files) generation.add(name, file);
  if (generation.name() != state.generation) return std::nullopt;
  const std::string folder = generation_folder(state.generation);
  const auto names = read_calls(folder + "\\n.js");
  if (!names || static_cast<long>(names->size()) != sources.docs) return std::nullopt;

  std::unordered_map<std::string, std::size_t> current;  // "<list>\<log name>" -> index in logs.entries
  current.reserve(logs.entries.size());
  for (std::size_t i = 0; i < logs.entries.size(); ++i) {
    current.emplace(logs.lists[logs.entries[i].list] + "\\" + logs.entries[i].name, i);
  }
  KeptGeneration kept{std::vector<bool>(logs.entries.size(), false), {}};
  for (std::size_t id = 0; id < names->size(); ++id) {
    const long list = number_at((*names)[id], 0);
    if (list < 0 || list >= static_cast<long>(lists.size())) return std::nullopt;
    const auto found = current.find(lists[static_cast<std::size_t>(list)] + "\\" + sjis_of(text_at((*names)[id], 1)) + ".log");
    const std::optional<platform::FileStamp>* stamp = found == current.end() ? nullptr : &logs.stamps[found->second];
    const std::string_view recorded = std::string_view(sources.stamps).substr(id * kDigestDigits, kDigestDigits);
    if (stamp == nullptr || !*stamp || recorded != stamp_digest(logs.entries[found->second].name, **stamp)) {
      kept.gone.push_back(static_cast<long>(id));  // gone, renamed or changed
    } else {
      kept.held[found->second] = true;
    }
  }
  const auto added = static_cast<std::size_t>(std::count(kept.held.begin(), kept.held.end(), false));
  if (added + kept.gone.size() > logs.entries.size() / kMaxAddedShareInverse) return std::nullopt;

  std::atomic<bool> intact = true;
  const auto check = [&](std::size_t from, std::size_t step) {
    for (std::size_t i = from; i < sources.files.size() && intact; i += step) {
      const auto& [name, file] = sources.files[i];
      if (!holds_packed(folder + "\\" + name, name, file)) intact = false;
    }
  };
  std::thread helper(check, 1, 2);
  check(0, 2);
  helper.join();
  if (!intact) return std::nullopt;
  return kept;
}

bool keep_generation(const State& old, const Sources& sources, const CurrentLogs& logs, const KeptGeneration& kept);


}  // namespace

bool build_search_index_locked() {
  platform::create_folder(kSearchFolder);
  const std::optional<State> old = read_state();
  State state;
  state.lists = enumerate_lists();

  using Entry = LogEntry;
  CurrentLogs logs;
  logs.lists = state.lists;
  std::vector<Entry>& entries = logs.entries;
  for (std::size_t l = 0; l < state.lists.size(); ++l) {
    for (std::string& name : platform::find_files(list_folder(state.lists[l]) + "\\*.log")) {
      entries.push_back({std::move(name), static_cast<long>(l)});
    }
  }
  // Oldest first: the page and the tool walk ids from the top for newest first.
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name != b.name ? a.name < b.name : a.list < b.list; });
  logs.stamps.reserve(entries.size());
  for (const Entry& entry : entries) logs.stamps.push_back(platform::file_stamp(list_folder(state.lists[entry.list]) + "\\" + entry.name));
  if (const std::optional<Sources> sources = old ? read_sources() : std::nullopt) {
    if (const auto kept = keepable_generation(*old, *sources, logs)) return keep_generation(*old, *sources, logs, *kept);
  }

  const std::string folder = build_folder();
  remove_generation(folder);  // what a killed build left
  if (!platform::create_folder(folder)) return false;
  // A log changed after the build began, yet within the tick of the file
  // system's clock in which it was changed before, keeps its stamp: such a
  // build's sources hash is left out, and the next rebuild builds anew.
  const std::optional<platform::FileStamp> began = platform::file_stamp(folder);
  Sources sources{{}, static_cast<long>(entries.size()), state.lists.size(), began ? sources_hash(state.lists) : "-", {}, {}};
  sources.stamps.reserve(entries.size() * kDigestDigits);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::optional<platform::FileStamp>& stamp = logs.stamps[i];
    const bool settled = began && stamp && stamp->modified < began->modified && stamp->changed < began->modified;
    sources.stamps += settled ? stamp_digest(entries[i].name, *stamp) : std::string(kUnsettledDigest);
  }
  // Each thread takes a run of the messages (a whole number of text files)
  // and builds its texts, names and postings alone; the postings are then
  // joined (ids ascend from one run to the next).
  // A file the current generation holds with the very same content (by its
  // hash) is neither deflated nor written again (a rebuild over unchanged
  // logs writes next to nothing); should the new generation differ, it is
  // copied over from there.
  const std::string previous = old ? generation_folder(old->generation) : std::string();
  const auto put = [&](const std::string& name, const std::string& content, std::uint64_t hash,
                       std::vector<std::string>& reused) {
    if (!previous.empty() && holds_packed(previous + "\\" + name, name, hash)) {
      reused.push_back(name);
      return true;
    }
    const std::optional<std::string> file = pack_file(pack_name(name), content, hash);
    return file && write_index_file(folder + "\\" + name, *file);
  };
  struct Part {
    KeyTable keys;
    std::string meta;   // m.js: list, name, subject (the tool's)
    std::string names;  // n.js: list, name (the page's: all it needs of every message)
    std::vector<std::pair<std::string, std::uint64_t>> files;  // written, with their hashes
    std::vector<std::string> reused;  // of those, the ones left in the previous generation
    bool ok = true;
  };
  const unsigned threads = std::max(1u, std::min(kBuildThreads, std::thread::hardware_concurrency()));
  const std::size_t chunks_per_part = (entries.size() + kSearchChunkDocs - 1) / kSearchChunkDocs / threads + 1;
  const std::size_t per_part = chunks_per_part * kSearchChunkDocs;
  std::vector<Part> parts(threads);
  const auto build_part = [&](unsigned t) {
    Part& part = parts[t];
    ChunkFiles chunks([&](std::string name, const std::string& bytes) {
      const std::uint64_t hash = file_hash(bytes);
      part.ok = put(name, bytes, hash, part.reused) && part.ok;
      part.files.emplace_back(std::move(name), hash);
    });
    KeyTable::Block block;
    const std::size_t end = std::min(entries.size(), (t + 1) * per_part);
    for (std::size_t id = t * per_part; id < end; ++id) {
      const Entry& entry = entries[id];
      const PreparedLog log = prepare_log(platform::read_file(list_folder(state.lists[entry.list]) + "\\" + entry.name).value_or(""));
      block.add(static_cast<long>(id), log.singles, log.pairs);
      if (block.size() >= kBlockKeys) part.keys.add_block(block);
      std::string list_and_name = std::to_string(entry.list) + ",";
      append_literal_sjis(list_and_name, without_log_extension(entry.name));
      part.names += "LS.n(" + list_and_name + ");\n";
      part.meta += "LS.m(" + list_and_name + "," + log.subject_literal + ");\n";
      chunks.add(static_cast<long>(id), log.text_literal, log.subject_sjis);
    }
    part.keys.add_block(block);
    chunks.finish();
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(build_part, t);
  build_part(0);
  for (std::thread& helper : helpers) helper.join();

  bool ok = true;
  GenerationHash hash;
  std::vector<std::string> files;  // names of the generation's files
  std::vector<std::string> reused_names;  // of those, the ones not in the build folder
  const auto write = [&](std::string name, const std::string& bytes) {
    const std::uint64_t file = file_hash(bytes);
    hash.add(name, file);
    sources.files.emplace_back(name, file);
    ok = put(name, bytes, file, reused_names) && ok;
    files.push_back(std::move(name));
  };
  KeyTable& keys = parts[0].keys;
  std::string meta;
  std::string names;
  for (Part& part : parts) {
    ok = ok && part.ok;
    for (auto& [name, file] : part.files) {
      hash.add(name, file);
      sources.files.emplace_back(name, file);
      files.push_back(std::move(name));
    }
    reused_names.insert(reused_names.end(), part.reused.begin(), part.reused.end());
    if (&part.keys != &keys) keys.append(part.keys);
    meta += part.meta;
    names += part.names;
  }
  const long id = static_cast<long>(entries.size());
  state.docs = id;
  state.newest.assign(state.lists.size(), std::u16string());
  for (const Entry& entry : entries) {
    std::u16string name = platform::sjis_to_utf16_display(without_log_extension(entry.name));
    if (stored_later(name, state.newest[entry.list])) state.newest[entry.list] = std::move(name);
  }
  // The posting files are deflated by the threads together: a fresh build
  // spends a good part of its time deflating.
  // Their hashes are those of the postings as the table holds them: the
  // shortest forms are made only for the files to be written.
  state.shards = shard_count_for(static_cast<long>(entries.size()), kSearchGenerationDocsPerShard, kSearchShards);
  const std::vector<std::string> shards = keys.shard_files(state.shards, "LS.p(", threads, false);
  std::vector<std::uint64_t> shard_hashes(shards.size());
  for (Part& part : parts) part.reused.clear();
  const auto put_shards = [&](unsigned t) {
    for (std::size_t s = t; s < shards.size(); s += threads) {
      shard_hashes[s] = file_hash(shards[s]);
      const std::string name = "p" + std::to_string(s) + ".js";
      if (!previous.empty() && holds_packed(previous + "\\" + name, name, shard_hashes[s])) {
        parts[t].reused.push_back(name);
        continue;
      }
      const std::optional<std::string> file = pack_file(pack_name(name), shortest_postings(shards[s]), shard_hashes[s]);
      parts[t].ok = file && write_index_file(folder + "\\" + name, *file) && parts[t].ok;
    }
  };
  helpers.clear();
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(put_shards, t);
  put_shards(0);
  for (std::thread& helper : helpers) helper.join();
  for (std::size_t s = 0; s < shards.size(); ++s) {
    std::string name = "p" + std::to_string(s) + ".js";
    hash.add(name, shard_hashes[s]);
    sources.files.emplace_back(name, shard_hashes[s]);
    files.push_back(std::move(name));
  }
  for (Part& part : parts) {
    ok = ok && part.ok;
    reused_names.insert(reused_names.end(), part.reused.begin(), part.reused.end());
  }
  write("m.js", meta);
  write("n.js", names);
  ok = write_page_if_changed() && ok;
  state.generation = hash.name();
  const std::string target = generation_folder(state.generation);
  const bool current = old && old->generation == state.generation;
  const std::unordered_set<std::string> reused(reused_names.begin(), reused_names.end());
  if (ok && current) {
    // The same contents: a file written all the same was found damaged or
    // missing in the current generation, and replaces what is there.
    for (const std::string& name : files) {
      if (reused.count(name) == 0) ok = ok && platform::set_aside(folder + "\\" + name, target + "\\" + name);
    }
  }
  if (ok && !current) {
    // A folder of this name that is not current is what a killed build left.
    remove_generation(target);
    ok = platform::create_folder(target);
    for (const std::string& name : files) {
      if (reused.count(name) == 0) {
        ok = ok && platform::set_aside(folder + "\\" + name, target + "\\" + name);
      } else {
        const std::optional<std::string> bytes = platform::read_file(previous + "\\" + name);
        ok = ok && bytes && write_index_file(target + "\\" + name, *bytes);
      }
    }
  }
  // The current generation holds these very files already: only its tail goes.
  if (!ok || !write_state(state)) {
    remove_generation(folder);
    return false;
  }
  sources.generation = state.generation;
  write_sources(sources);  // when it fails, the next rebuild builds anew
  remove_generation(folder);
  for (const platform::DirEntry& entry : platform::find_entries(std::string(kSearchFolder) + "\\g*")) {
    if (entry.is_folder && entry.name != target.substr(kSearchFolder.size() + 1)) {
      remove_generation(std::string(kSearchFolder) + "\\" + entry.name);
    }
  }
  if (current) {
    for (const std::string& name : platform::find_files(target + "\\x*.js")) platform::delete_file(target + "\\" + name);
  }
  return true;
}

namespace {

std::string segment_prefix(const std::string& folder, const Segment& segment) {
  return folder + "\\s" + std::to_string(segment.first) + "_" + std::to_string(segment.end);
}
std::string segment_shard_path(const std::string& folder, const Segment& segment, long shard) {
  return segment_prefix(folder, segment) + "p" + std::to_string(shard) + ".js";
}
std::string segment_meta_path(const std::string& folder, const Segment& segment) {
  return segment_prefix(folder, segment) + "m.js";
}

// Posting files of a segment of `span` messages.
long shards_for(long span) { return shard_count_for(span, kSearchSegmentDocsPerShard, kMaxSearchSegmentShards); }

// A segment's size class: 0 up to a tail's messages, then one more for each
// kSearchMergeSegments times as many.
int size_class(const Segment& segment) {
  int size_class = 0;
  for (long size = kMaxSearchTailDocs; segment.end - segment.first > size; size *= kSearchMergeSegments) ++size_class;
  return size_class;
}

// Writes the files of a segment; false when one could not be written.
bool write_segment(const std::string& folder, const Segment& segment, const KeyTable& keys, const std::string& meta) {
  bool ok = true;
  const std::vector<std::string> shards = keys.shard_files(segment.shards, "LS.q(" + std::to_string(segment.first) + ",");
  for (long s = 0; s < segment.shards; ++s) {
    const std::string path = segment_shard_path(folder, segment, s);
    ok = write_packed(path, path.substr(folder.size() + 1), shards[s]) && ok;
  }
  const std::string meta_file = segment_meta_path(folder, segment);
  return write_packed(meta_file, meta_file.substr(folder.size() + 1), meta) && ok;
}

void delete_segment(const std::string& folder, const Segment& segment) {
  for (long s = 0; s < segment.shards; ++s) platform::delete_file(segment_shard_path(folder, segment, s));
  platform::delete_file(segment_meta_path(folder, segment));
}

// Merges the last kSearchMergeSegments segments into one while they are of
// one size class: their postings are concatenated (ids ascend from one
// segment to the next), their texts stay where they are. The merged ones go
// to `obsolete`, to be deleted once the state no longer names them.
bool merge_segments(State& state, const std::string& folder, std::vector<Segment>& obsolete) {
  const std::size_t n = kSearchMergeSegments;
  while (state.segments.size() >= n) {
    const auto from = state.segments.end() - static_cast<std::ptrdiff_t>(n);
    const int size = size_class(state.segments.back());
    if (!std::all_of(from, state.segments.end(), [size](const Segment& s) { return size_class(s) == size; })) break;
    Segment merged{from->first, state.segments.back().end, 0};
    merged.shards = shards_for(merged.end - merged.first);
    KeyTable keys;
    std::string meta;
    for (auto segment = from; segment != state.segments.end(); ++segment) {
      for (long s = 0; s < segment->shards; ++s) {
        const auto calls = read_calls(segment_shard_path(folder, *segment, s));
        if (!calls) return false;
        for (const Call& call : *calls) {
          for (std::size_t a = 2; a + 1 < call.arguments.size(); a += 2) {
            keys.add_ids(text_at(call, a), decode_postings(text_at(call, a + 1)));
          }
        }
      }
      const std::optional<std::string> bytes = read_index_file(segment_meta_path(folder, *segment));
      if (!bytes) return false;
      meta += *bytes;
    }
    if (!write_segment(folder, merged, keys, meta)) return false;
    obsolete.insert(obsolete.end(), from, state.segments.end());
    state.segments.erase(from, state.segments.end());
    state.segments.push_back(merged);
  }
  return true;
}

// The first id after a chunk's worth: where a segment's ids may start.
long chunk_start_at_or_after(long id) { return (id + kSearchChunkDocs - 1) / kSearchChunkDocs * kSearchChunkDocs; }

// A message of a new segment: the fields of its TailDoc (but the id) and its text.
struct SegmentDoc {
  long list = 0;
  std::u16string name;
  std::u16string subject;
  std::u16string text;
};

// Writes the files of a new segment `segment` of the messages doc_at(0),
// doc_at(1), ... (ids segment.first on): texts, postings and message list.
bool write_new_segment(const std::string& folder, const Segment& segment, const std::function<SegmentDoc(std::size_t)>& doc_at) {
  bool ok = true;
  ChunkFiles chunks([&](std::string name, const std::string& bytes) {
    ok = write_packed(folder + "\\" + name, name, bytes) && ok;
  });
  KeyTable keys;
  std::string meta;
  for (long id = segment.first; id < segment.end; ++id) {
    const SegmentDoc doc = doc_at(static_cast<std::size_t>(id - segment.first));
    PreparedLog prepared;
    collect_keys(doc.text, prepared);
    keys.add_keys(id, prepared.singles, prepared.pairs);
    std::string text_literal;
    std::string subject_literal;
    append_sjis_literal(text_literal, doc.text);
    append_literal(subject_literal, doc.subject);
    chunks.add(id, text_literal, chunk_subject(doc.subject));
    std::string name_literal;
    append_literal(name_literal, doc.name);
    meta += "LS.sm(" + std::to_string(id) + "," + std::to_string(doc.list) + "," + name_literal + "," + subject_literal + ");\n";
  }
  chunks.finish();
  return ok && write_segment(folder, segment, keys, meta);
}

// Moves the tail into a new segment (its texts read back from its files,
// folded and keyed: work for the tail's messages alone), merges segments
// as due, and writes the state; then deletes what the state no longer names.
bool flush_tail(State& state) {
  const std::string folder = generation_folder(state.generation);
  Segment segment;
  segment.first = chunk_start_at_or_after(state.docs);
  segment.end = segment.first + static_cast<long>(state.tail.size());
  segment.shards = shards_for(segment.end - segment.first);
  const bool written = write_new_segment(folder, segment, [&](std::size_t i) {
    const TailDoc& doc = state.tail[i];
    const auto calls = read_calls(tail_path(folder, doc.id));
    // A tail file gone missing leaves the message searchable by its subject.
    std::u16string text = calls && !calls->empty() ? text_at((*calls)[0], 1) : doc.subject;
    return SegmentDoc{doc.list, doc.name, doc.subject, std::move(text)};
  });
  if (!written) return false;
  State next = state;
  next.segments.push_back(segment);
  next.docs = segment.end;
  next.tail.clear();
  std::vector<Segment> obsolete;
  if (!merge_segments(next, folder, obsolete) || !write_state(next)) return false;
  // The tail's files, and any a flush killed after its state was written left.
  for (const std::string& name : platform::find_files(folder + "\\x*.js")) {
    if (std::atol(name.c_str() + 1) < next.docs) platform::delete_file(folder + "\\" + name);
  }
  for (const Segment& old : obsolete) delete_segment(folder, old);
  state = std::move(next);
  return true;
}

// Deletes from the folder of a kept generation what neither the generation
// (its first `generation_chunks` text files, its postings and lists) nor
// `segment` (when not null) owns: a tail's files, older segments', and what
// killed writers left.
void remove_leftovers(const std::string& folder, long generation_chunks, const Segment* segment) {
  std::unordered_set<std::string> owned;
  long first_chunk = 0;
  long end_chunk = 0;
  if (segment != nullptr) {
    for (long s = 0; s < segment->shards; ++s) owned.insert(segment_shard_path(folder, *segment, s));
    owned.insert(segment_meta_path(folder, *segment));
    first_chunk = segment->first / kSearchChunkDocs;
    end_chunk = (segment->end + kSearchChunkDocs - 1) / kSearchChunkDocs;
  }
  for (const std::string& name : platform::find_files(folder + "\\*.js")) {
    const std::string path = folder + "\\" + name;
    const long chunk = std::atol(name.c_str() + 1);
    const bool leftover = name[0] == 'x' || (name[0] == 's' && owned.count(path) == 0) ||
                          (name[0] == 't' && chunk >= generation_chunks && (chunk < first_chunk || chunk >= end_chunk));
    if (leftover) platform::delete_file(path);
  }
}

// Makes the current generation of `old` the rebuild's, as `kept` tells: its
// messages of logs gone or changed are marked gone, and the logs it does
// not hold as they are (changed, or stored since: the old state's tail and
// segments may hold them in part, or as they were) are derived afresh into
// one new segment; the state is written once, naming both. The segment's files take names the old state
// does not use, so a kill at any moment leaves one state or the other
// whole. What the new state does not name goes afterwards.
bool keep_generation(const State& old, const Sources& sources, const CurrentLogs& logs, const KeptGeneration& kept) {
  const std::string folder = generation_folder(old.generation);
  const long generation_chunks = (sources.docs + kSearchChunkDocs - 1) / kSearchChunkDocs;
  bool ok = write_page_if_changed();
  remove_generation(build_folder());
  const std::string current = std::string(kGenerationPrefix) + old.generation;
  for (const platform::DirEntry& entry : platform::find_entries(std::string(kSearchFolder) + "\\g*")) {
    if (entry.is_folder && entry.name != current) remove_generation(std::string(kSearchFolder) + "\\" + entry.name);
  }
  std::vector<std::size_t> added;  // logs stored or changed since the generation was built
  for (std::size_t i = 0; i < kept.held.size(); ++i) {
    if (!kept.held[i]) added.push_back(i);
  }
  if (added.empty() && old.segments.empty() && old.tail.empty() && kept.gone == old.gone) {
    remove_leftovers(folder, generation_chunks, nullptr);
    return ok;
  }

  State next;
  next.generation = old.generation;
  next.docs = sources.docs;
  next.shards = old.shards;
  next.lists = old.lists;
  next.gone = kept.gone;
  std::vector<long> list_ids;  // by the index of logs.lists
  for (const std::string& list : logs.lists) {
    const auto found = std::find(next.lists.begin(), next.lists.end(), list);
    list_ids.push_back(static_cast<long>(found - next.lists.begin()));
    if (found == next.lists.end()) next.lists.push_back(list);
  }
  next.newest.assign(next.lists.size(), std::u16string());
  for (const LogEntry& entry : logs.entries) {
    std::u16string name = platform::sjis_to_utf16_display(without_log_extension(entry.name));
    std::u16string& newest = next.newest[static_cast<std::size_t>(list_ids[static_cast<std::size_t>(entry.list)])];
    if (stored_later(name, newest)) newest = std::move(name);
  }
  // The new segment's ids follow the generation's where the old state's
  // segments and tail leave room, else theirs: none of its files is then
  // one the old state names.
  Segment segment;
  const long count = static_cast<long>(added.size());
  long used_from = LONG_MAX;  // the old state's first id past the generation
  if (!old.segments.empty()) used_from = old.segments.front().first;
  if (!old.tail.empty()) used_from = std::min(used_from, old.tail.front().id);
  segment.first = chunk_start_at_or_after(sources.docs);
  if (segment.first + count > used_from) segment.first = chunk_start_at_or_after(old.docs + static_cast<long>(old.tail.size()));
  segment.end = segment.first + count;
  segment.shards = shards_for(count);
  if (count > 0) {
    const bool written = write_new_segment(folder, segment, [&](std::size_t i) {
      const LogEntry& entry = logs.entries[added[i]];
      const std::string log = platform::read_file(list_folder(logs.lists[entry.list]) + "\\" + entry.name).value_or("");
      return SegmentDoc{list_ids[static_cast<std::size_t>(entry.list)],
                        platform::sjis_to_utf16_display(without_log_extension(entry.name)), search_subject(log),
                        search_text(log)};
    });
    if (!written) return false;
    next.segments.push_back(segment);
    next.docs = segment.end;
  }
  if (!write_state(next)) return false;
  remove_leftovers(folder, generation_chunks, count > 0 ? &segment : nullptr);
  return ok;
}

}  // namespace

namespace {

// The names (no extension) of every log the generation and its segments
// hold, per list id: read once for a batch of logs of which some are not
// newer than what their list holds (an import's, or a catch-up's).
std::vector<std::unordered_set<std::u16string>> held_names(const State& state) {
  std::vector<std::unordered_set<std::u16string>> held(state.lists.size());
  const std::string folder = generation_folder(state.generation);
  std::vector<std::string> files{meta_path(folder)};
  for (const Segment& segment : state.segments) files.push_back(segment_meta_path(folder, segment));
  for (const std::string& file : files) {
    const auto calls = read_calls(file);
    if (!calls) continue;
    const std::size_t at = calls->empty() || (*calls)[0].name != "sm" ? 0 : 1;  // LS.sm lines lead with the id
    for (std::size_t line = 0; line < calls->size(); ++line) {
      const Call& call = (*calls)[line];
      // The generation's lines are its ids in order; a gone one is not held.
      if (at == 0 && std::binary_search(state.gone.begin(), state.gone.end(), static_cast<long>(line))) continue;
      const long list = number_at(call, at);
      if (list >= 0 && list < static_cast<long>(held.size())) held[static_cast<std::size_t>(list)].insert(text_at(call, at + 1));
    }
  }
  return held;
}

using HeldNames = std::optional<std::vector<std::unordered_set<std::u16string>>>;

// The id of list `list_name` in `state`, added when new.
long list_id(State& state, HeldNames& held, std::string_view list_name) {
  auto list = std::find(state.lists.begin(), state.lists.end(), list_name);
  if (list == state.lists.end()) {
    list = state.lists.insert(state.lists.end(), std::string(list_name));
    state.newest.resize(state.lists.size());
    if (held) held->resize(state.lists.size());
  }
  return static_cast<long>(list - state.lists.begin());
}

// True when the index holds log `name` (no extension) of list `list`: a
// rebuild that ran between the storing of the log and this call, or a
// catch-up, took it in already. `held` is filled on first need, for a log
// not newer than every log its list has in the index.
bool index_holds(const State& state, HeldNames& held, long list, const std::u16string& name) {
  for (const TailDoc& known : state.tail) {
    if (known.list == list && known.name == name) return true;
  }
  if (stored_later(name, state.newest[static_cast<std::size_t>(list)])) return false;
  if (!held) held = held_names(state);
  return (*held)[static_cast<std::size_t>(list)].count(name) != 0;
}

// Adds log `log_path` ("LKset\<list>\<file>.log"; its bytes `content`, or
// read from there when null) to `state`'s tail (its text file written)
// unless the index holds it, flushing a full tail. The state itself is
// written only by a flush; `written` tells whether it was.
bool add_log(State& state, HeldNames& held, std::string_view list_name, std::string_view log_path,
             const std::string* content, bool& written) {
  written = false;
  const std::size_t slash = log_path.rfind('\\');
  const std::string_view log_name = slash == std::string_view::npos ? log_path : log_path.substr(slash + 1);
  TailDoc doc;
  doc.list = list_id(state, held, list_name);
  doc.name = platform::sjis_to_utf16_display(without_log_extension(log_name));
  if (index_holds(state, held, doc.list, doc.name)) return true;
  const std::optional<std::string> log = content ? std::optional<std::string>(*content) : platform::read_file(log_path);
  if (!log) return true;  // gone since: nothing to add
  doc.id = state.docs + static_cast<long>(state.tail.size());
  doc.subject = search_subject(*log);
  std::string file = "LS.x(" + std::to_string(doc.id) + ",";
  append_literal(file, search_text(*log));
  file += ");\n";
  if (!write_index_file(tail_path(generation_folder(state.generation), doc.id), file)) return false;
  if (stored_later(doc.name, state.newest[doc.list])) state.newest[doc.list] = doc.name;
  state.tail.push_back(std::move(doc));
  if (static_cast<int>(state.tail.size()) < kMaxSearchTailDocs) return true;
  // The tail moves into a segment (flush_tail writes the state); the names
  // of the messages it held are then the segment's (held is read again).
  held.reset();
  written = true;
  return flush_tail(state);
}

// Adds the logs `paths` (by list name) at one reading and at most one
// writing of the state beyond what flushes write; `content`, when given, is
// the bytes of the one log there is.
bool add_logs(const std::map<std::string, std::vector<std::string>>& logs, const std::string* content = nullptr) {
  std::optional<State> state = read_state();
  // An archive without an index gets it from a rebuild or when it is first
  // searched: a receive never builds it whole.
  if (!state) return true;
  if (!platform::can_read_file(kSearchPage) && !write_page_if_changed()) return false;
  HeldNames held;
  bool ok = true;
  bool dirty = false;  // the state has messages its file lacks
  for (const auto& [list_name, paths] : logs) {
    for (const std::string& path : paths) {
      const std::size_t tail_before = state->tail.size();
      bool written = false;
      if (!add_log(*state, held, list_name, path, content, written)) {
        ok = false;
      } else if (written) {
        dirty = false;
      } else if (state->tail.size() != tail_before) {
        dirty = true;
      }
    }
  }
  return (!dirty || write_state(*state)) && ok;
}

}  // namespace

bool add_to_search_index_locked(std::string_view list_name, std::string_view log_name, std::string_view log) {
  const std::string content(log);
  return add_logs({{std::string(list_name), {std::string(log_name)}}}, &content);
}

bool add_logs_to_search_index_locked(const std::map<std::string, std::vector<std::string>>& logs) {
  return add_logs(logs);
}

bool catch_up_search_index_locked(const std::vector<std::string>& list_names) {
  // Every log of the lists: an import names its logs by the messages' dates,
  // so a stopped one may have left logs older than the newest indexed one.
  // Those the index holds are skipped before they are read.
  std::map<std::string, std::vector<std::string>> logs;
  for (const std::string& list_name : list_names) {
    std::vector<std::string> names = platform::find_files(list_folder(list_name) + "\\*.log");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) logs[list_name].push_back(list_folder(list_name) + "\\" + name);
  }
  return add_logs(logs);
}

// ------------------------------------------------------------------ reader

std::optional<SearchResult> search_archive(std::u16string_view query, const std::optional<std::string>& list,
                                           std::size_t limit) {
  const std::optional<State> state = read_state();
  if (!state) return std::nullopt;
  const std::string folder = generation_folder(state->generation);
  const std::vector<std::u16string> words = search_words(query);
  SearchResult result;
  if (words.empty()) return result;

  long list_filter = -2;  // no filter
  if (list) {
    const auto found = std::find(state->lists.begin(), state->lists.end(), *list);
    list_filter = found == state->lists.end() ? -1 : static_cast<long>(found - state->lists.begin());
  }

  // Candidates of the generation and its segments: the ids every key of
  // every word has (a key's ids are its generation's, then each segment's).
  std::optional<std::vector<long>> candidates;
  bool verify = false;
  std::unordered_map<std::string, std::vector<Call>> shards;
  const auto ids_in = [&](const std::string& path, std::size_t first_key, const std::u16string& key, std::vector<long>& ids) {
    auto loaded = shards.find(path);
    if (loaded == shards.end()) loaded = shards.emplace(path, read_calls(path).value_or(std::vector<Call>{})).first;
    for (const Call& call : loaded->second) {
      for (std::size_t a = first_key; a + 1 < call.arguments.size(); a += 2) {
        if (text_at(call, a) != key) continue;
        const std::vector<long> more = decode_postings(text_at(call, a + 1));
        ids.insert(ids.end(), more.begin(), more.end());
      }
    }
  };
  for (const std::u16string& word : words) {
    verify = verify || word.size() > 2;
    for (const std::u16string& key : keys_of_word(word)) {
      const long second = key.size() > 1 ? static_cast<long>(key[1]) : -1;
      std::vector<long> ids;
      ids_in(shard_path(folder, shard_of(key[0], second, state->shards)), 1, key, ids);
      for (const Segment& segment : state->segments) {
        ids_in(segment_shard_path(folder, segment, shard_of(key[0], second, segment.shards)), 2, key, ids);
      }
      if (!candidates) {
        candidates = std::move(ids);
      } else {
        std::vector<long> both;
        std::set_intersection(candidates->begin(), candidates->end(), ids.begin(), ids.end(), std::back_inserter(both));
        candidates = std::move(both);
      }
    }
  }

  struct Found {
    long id = -1;
    long list = -1;
    std::u16string name;
    std::u16string subject;
  };
  const auto newer = [](const Found& a, const Found& b) {
    const std::u16string_view da = std::u16string_view(a.name).substr(0, 14);
    const std::u16string_view db = std::u16string_view(b.name).substr(0, 14);
    return da != db ? da > db : a.id > b.id;
  };
  std::vector<Found> found;
  std::vector<Found> meta;  // by id; id -1 where no message has the id
  if (!candidates->empty()) {
    const auto calls = read_calls(meta_path(folder));
    if (!calls) return std::nullopt;
    for (const Call& call : *calls) meta.push_back({static_cast<long>(meta.size()), number_at(call, 0), text_at(call, 1), text_at(call, 2)});
    meta.resize(static_cast<std::size_t>(std::max<long>(state->docs, static_cast<long>(meta.size()))));
    for (const Segment& segment : state->segments) {
      for (const Call& call : read_calls(segment_meta_path(folder, segment)).value_or(std::vector<Call>{})) {
        const long id = number_at(call, 0);
        if (id >= segment.first && id < segment.end) meta[id] = {id, number_at(call, 1), text_at(call, 2), text_at(call, 3)};
      }
    }
  }
  std::vector<Found*> order;
  for (const long id : *candidates) {
    if (id < 0 || id >= static_cast<long>(meta.size()) || meta[id].id != id) continue;
    if (std::binary_search(state->gone.begin(), state->gone.end(), id)) continue;
    if (list_filter != -2 && meta[id].list != list_filter) continue;
    order.push_back(&meta[id]);
  }
  std::sort(order.begin(), order.end(), [&](const Found* a, const Found* b) { return newer(*a, *b); });
  std::unordered_map<long, ChunkTexts> chunks;
  // Newest first, so that with a limit the checking of candidates stops once
  // the limit is reached: the newest matches of the generation and its
  // segments, merged with the tail's, are then the newest of all.
  std::size_t main_found = 0;
  result.complete = true;
  for (Found* candidate : order) {
    const long id = candidate->id;
    if (main_found >= limit) {
      result.complete = false;
      break;
    }
    if (verify) {
      const long chunk = id / kSearchChunkDocs;
      auto loaded = chunks.find(chunk);
      if (loaded == chunks.end()) {
        loaded = chunks.emplace(chunk, ChunkTexts(read_index_file(chunk_path(folder, chunk)).value_or(std::string{}), chunk)).first;
      }
      const std::optional<std::u16string> text = loaded->second.text(static_cast<std::size_t>(id % kSearchChunkDocs));
      if (!text || !holds_every_word(platform::fold_for_search(*text), words)) continue;
    }
    found.push_back(std::move(*candidate));
    ++main_found;
  }
  for (const TailDoc& doc : state->tail) {
    if (list_filter != -2 && doc.list != list_filter) continue;
    const auto calls = read_calls(tail_path(folder, doc.id));
    if (!calls || calls->empty()) continue;
    if (!holds_every_word(platform::fold_for_search(text_at((*calls)[0], 1)), words)) continue;
    found.push_back({doc.id, doc.list, doc.name, doc.subject});
  }
  std::sort(found.begin(), found.end(), newer);
  result.total = found.size();
  for (std::size_t i = 0; i < found.size() && i < limit; ++i) {
    SearchHit hit;
    hit.list = found[i].list >= 0 && found[i].list < static_cast<long>(state->lists.size()) ? state->lists[found[i].list] : "";
    hit.log_name = sjis_of(found[i].name);
    hit.date = date_of_log_name(hit.log_name);
    hit.subject = std::move(found[i].subject);
    result.hits.push_back(std::move(hit));
  }
  return result;
}

}  // namespace larkspur
