#include "search/search_text.h"

#include <array>
#include <cctype>
#include <utility>

#include "platform/platform.h"
#include "site/list_pages.h"

namespace larkspur {
namespace {

// A reference is tried over at most this many units ("&#x10FFFF;" and the
// longest named reference resolved fit).
constexpr std::size_t kMaxReferenceUnits = 12;

void append_code_point(std::u16string& out, char32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
}

bool ascii_equal_ignoring_case(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] > 0x7F || std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The character reference at `text[at]` ("&"): its length and the text it
// stands for; length 0 when there is none. Numeric references always count;
// of the named ones, those a mail page actually uses.
std::pair<std::size_t, std::u16string> reference_at(std::u16string_view text, std::size_t at, bool numeric_only) {
  const std::size_t limit = std::min(text.size(), at + kMaxReferenceUnits);
  std::size_t semicolon = at + 1;
  while (semicolon < limit && text[semicolon] != u';') ++semicolon;
  if (semicolon >= limit) return {0, {}};
  const std::u16string_view inner = text.substr(at + 1, semicolon - at - 1);
  if (inner.size() >= 2 && inner[0] == u'#') {
    const bool hex = inner[1] == u'x' || inner[1] == u'X';
    const std::u16string_view digits = inner.substr(hex ? 2 : 1);
    if (digits.empty()) return {0, {}};
    char32_t code = 0;
    for (char16_t d : digits) {
      int value = -1;
      if (d >= u'0' && d <= u'9') value = d - u'0';
      else if (hex && d >= u'a' && d <= u'f') value = d - u'a' + 10;
      else if (hex && d >= u'A' && d <= u'F') value = d - u'A' + 10;
      if (value < 0) return {0, {}};
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
      if (code > 0x10FFFF) code = 0x110000;  // stays out of range, no overflow
    }
    std::u16string out;
    append_code_point(out, code);
    return {semicolon - at + 1, out};
  }
  if (numeric_only) return {0, {}};
  static constexpr std::array<std::pair<std::string_view, char16_t>, 8> kNamed = {{
      {"amp", u'&'}, {"lt", u'<'}, {"gt", u'>'}, {"quot", u'"'},
      {"apos", u'\''}, {"nbsp", u'\u00A0'}, {"copy", u'\u00A9'}, {"reg", u'\u00AE'}}};
  for (const auto& [name, unit] : kNamed) {
    // Named references are case-sensitive in HTML, but "&AMP;" and friends
    // are read too by browsers for these; keep it simple and exact.
    if (inner.size() == name.size() && std::equal(name.begin(), name.end(), inner.begin())) {
      return {semicolon - at + 1, std::u16string(1, unit)};
    }
  }
  return {0, {}};
}

std::u16string resolve_references(std::u16string_view text, bool numeric_only) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      auto [length, value] = reference_at(text, i, numeric_only);
      if (length != 0) {
        out += value;
        i += length - 1;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// Elements whose content a page does not show as text.
constexpr std::array<std::string_view, 4> kHiddenElements = {"style", "script", "head", "title"};
// Elements after which the page's text goes on on a new line.
constexpr std::array<std::string_view, 15> kBlockElements = {
    "br", "p", "div", "tr", "li", "pre", "hr", "table", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote"};

}  // namespace

std::u16string visible_html_text(std::u16string_view html) {
  std::u16string text;
  text.reserve(html.size());
  std::size_t i = 0;
  while (i < html.size()) {
    const std::size_t lt = html.find(u'<', i);
    const std::size_t run_end = lt == std::u16string_view::npos ? html.size() : lt;
    text += resolve_references(html.substr(i, run_end - i), false);
    if (lt == std::u16string_view::npos) break;
    // A comment runs to "-->"; any other tag to the next ">" outside quotes.
    if (html.substr(lt).starts_with(u"<!--")) {
      const std::size_t end = html.find(u"-->", lt + 4);
      i = end == std::u16string_view::npos ? html.size() : end + 3;
      continue;
    }
    std::size_t end = lt + 1;
    char16_t quote = 0;
    while (end < html.size() && (quote != 0 || html[end] != u'>')) {
      if (quote != 0) {
        if (html[end] == quote) quote = 0;
      } else if (html[end] == u'"' || html[end] == u'\'') {
        quote = html[end];
      }
      ++end;
    }
    std::size_t name_start = lt + 1;
    const bool closing = name_start < html.size() && html[name_start] == u'/';
    if (closing) ++name_start;
    std::size_t name_end = name_start;
    while (name_end < end && name_end < html.size() && std::isalnum(html[name_end] < 0x80 ? html[name_end] : 0)) ++name_end;
    const std::u16string_view name = html.substr(name_start, name_end - name_start);
    i = end < html.size() ? end + 1 : html.size();
    if (name.empty()) continue;
    for (std::string_view block : kBlockElements) {
      if (ascii_equal_ignoring_case(name, block)) {
        if (!text.empty() && text.back() != u'\n') text += u'\n';
        break;
      }
    }
    if (closing) continue;
    for (std::string_view hidden : kHiddenElements) {
      if (!ascii_equal_ignoring_case(name, hidden)) continue;
      // Skip to the matching end tag (case-insensitive).
      std::size_t search = i;
      for (;;) {
        const std::size_t close = html.find(u"</", search);
        if (close == std::u16string_view::npos) {
          i = html.size();
          break;
        }
        const std::u16string_view candidate = html.substr(close + 2, hidden.size());
        if (ascii_equal_ignoring_case(candidate, hidden)) {
          const std::size_t gt = html.find(u'>', close);
          i = gt == std::u16string_view::npos ? html.size() : gt + 1;
          break;
        }
        search = close + 2;
      }
      break;
    }
  }
  return text;
}

std::u16string search_subject(std::string_view log) {
  std::string_view line = log.substr(0, log.find('\n'));
  line = line.substr(0, line.find('\0'));
  const std::u16string subject = platform::sjis_to_utf16_display(line);
  return is_extended_log(log) ? resolve_references(subject, true) : subject;
}

std::u16string search_body(std::string_view log) {
  const std::u16string body = platform::sjis_to_utf16_display(log_body_text(log));
  return is_extended_log(log) ? visible_html_text(body) : body;
}

std::u16string search_text(std::string_view log) {
  std::u16string text = search_subject(log);
  text += u'\n';
  text += search_body(log);
  return text;
}

std::string date_of_log_name(std::string_view name) {
  name = name.substr(0, name.find('_'));
  if (name.size() != 14 || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::string(name);
  }
  std::string date;
  date.append(name.substr(0, 4)).append("/").append(name.substr(4, 2)).append("/").append(name.substr(6, 2));
  date.append(" ").append(name.substr(8, 2)).append(":").append(name.substr(10, 2)).append(":").append(name.substr(12, 2));
  return date;
}

}  // namespace larkspur
