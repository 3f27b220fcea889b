// Page markup from mail: plain text escaped and linked, HTML sanitized.
//
// Shift_JIS can be scanned byte by byte for markup: every delimiter that
// matters here (< > & " ' = blanks) lies below 0x40, where no trail byte
// does, and a browser's Shift_JIS decoder never swallows such a byte. The
// sanitizer re-writes everything it keeps (tags with quoted, escaped
// values, text with "<" and ">" escaped), so whatever it makes of odd input,
// its output holds no markup but the markup it wrote.
#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <vector>

#include "platform/platform.h"
#include "retrieval/mime_detail.h"

namespace larkspur::mime_detail {
namespace {

bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }
bool is_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The length of the character reference at the start of `text` ("&amp;",
// "&#65;", "&#x1F600;"), 0 when there is none.
std::size_t reference_length(std::string_view text, bool numeric_only) {
  if (text.size() < 3 || text[0] != '&') return 0;
  std::size_t i = 1;
  if (text[1] == '#') {
    i = 2;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    while (i < text.size() && i - digits < 8 && (hex ? is_hex(text[i]) : is_digit(text[i]))) ++i;
    if (i == digits) return 0;
  } else {
    if (numeric_only) return 0;
    while (i < text.size() && i < 33 && is_alnum(text[i])) ++i;
    if (i == 1 || !is_alpha(text[1])) return 0;
  }
  return i < text.size() && text[i] == ';' ? i + 1 : 0;
}

// Text for the page: "<", ">" and '"' escaped, "&" too unless it begins a
// reference that is kept.
void append_escaped(std::string& out, std::string_view text, bool numeric_only) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '&') {
      const std::size_t length = reference_length(text.substr(i), numeric_only);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length - 1;
      } else {
        out += "&amp;";
      }
    } else {
      out += c;
    }
  }
}

// The address classes of the plain page's links.
bool is_web_byte(char c) { return is_alnum(c) || std::string_view("@#~.:_-/?=&%").find(c) != std::string_view::npos; }
bool is_mail_byte(char c) { return is_alnum(c) || std::string_view("@:_-.").find(c) != std::string_view::npos; }

// A word scores this much per "@" and 1 per "."; it becomes a link above it.
constexpr int kAtScore = 100;
constexpr int kMailLinkThreshold = 100;

}  // namespace

std::string text_to_markup(std::string_view text) {
  constexpr std::array<std::string_view, 3> kWebPrefixes{"http://", "https://", "ftp://"};
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t failed_word_end = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    // A double-byte character is never part of an address. Only a real
    // trail byte goes with a lead byte: a browser reads a '<' after a lone
    // lead byte as a '<'.
    if (platform::is_sjis_lead_byte(c) && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x40) {
      out.append(text.substr(i, 2));
      i += 2;
      continue;
    }
    const std::string_view rest = text.substr(i);
    const auto prefix = std::find_if(kWebPrefixes.begin(), kWebPrefixes.end(),
                                     [&](std::string_view p) { return rest.starts_with(p); });
    if (prefix != kWebPrefixes.end()) {
      std::size_t end = prefix->size();
      std::string written;  // the address as the text holds it
      written.append(rest.substr(0, end));
      while (end < rest.size()) {
        if (rest.substr(end).starts_with(kLiteralAmpersand)) {
          written += '&';
          end += kLiteralAmpersand.size();
        } else if (rest.substr(end).starts_with("&#")) {
          break;  // a character without a CP932 form, no part of the address
        } else if (is_web_byte(rest[end])) {
          written += rest[end++];
        } else {
          break;
        }
      }
      std::string address;
      append_escaped(address, written, false);
      out += "<A HREF=\"" + address + "\" target=new>" + address + "</A>";
      i += end;
      continue;
    }
    if (is_alnum(text[i]) && i >= failed_word_end) {
      std::size_t end = i;
      int score = 0;
      while (end < text.size() && is_mail_byte(text[end])) {
        if (text[end] == '@') score += kAtScore;
        if (text[end] == '.') score += 1;
        ++end;
      }
      if (score > kMailLinkThreshold) {
        const std::string_view word = text.substr(i, end - i);
        const std::string_view scheme = word.starts_with("mailto:") ? "" : "mailto:";
        out += "<A HREF=\"" + std::string(scheme) + std::string(word) + "\" >" + std::string(word) + "</A>";
        i = end;
        continue;
      }
      failed_word_end = end;
    }
    // A numeric reference (a character without a CP932 form, or the
    // decoder's kLiteralAmpersand) stays one.
    const std::size_t reference = reference_length(rest, true);
    if (reference > 0) {
      out.append(rest.substr(0, reference));
      i += reference;
      continue;
    }
    append_escaped(out, rest.substr(0, 1), true);
    ++i;
  }
  return out;
}

namespace {

// Elements kept, with the harmless attributes below.
const std::set<std::string, std::less<>> kKeptElements{
    "a", "abbr", "acronym", "address", "article", "aside", "b", "bdi", "bdo", "big", "blockquote", "body",
    "br", "caption", "center", "cite", "code", "col", "colgroup", "dd", "del", "dfn", "div", "dl", "dt",
    "em", "figcaption", "figure", "font", "footer", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr",
    "i", "img", "ins", "kbd", "li", "main", "mark", "nav", "ol", "p", "pre", "q", "rp", "rt", "ruby",
    "s", "samp", "section", "small", "span", "strike", "strong", "sub", "sup", "table", "tbody", "td",
    "tfoot", "th", "thead", "tr", "tt", "u", "ul", "var", "wbr"};
const std::set<std::string, std::less<>> kVoidElements{"br", "col", "hr", "img", "wbr"};
const std::set<std::string, std::less<>> kKeptAttributes{
    "abbr", "align", "alink", "alt", "background", "bgcolor", "border", "cellpadding", "cellspacing",
    "cite", "class", "clear", "color", "colspan", "datetime", "dir", "face", "headers", "height", "href",
    "hspace", "lang", "link", "name", "noshade", "nowrap", "rowspan", "scope", "size", "span", "src",
    "start", "style", "summary", "target", "text", "title", "type", "valign", "vlink", "vspace", "width"};
const std::set<std::string, std::less<>> kAddressAttributes{"background", "cite", "href", "src"};
// Elements whose content a browser reads as raw text up to their end tag.
const std::set<std::string, std::less<>> kRawTextElements{
    "iframe", "noembed", "noframes", "noscript", "plaintext", "script", "style", "textarea", "title", "xmp"};
// Elements dropped with everything inside them.
const std::set<std::string, std::less<>> kDroppedWithContent{
    "applet", "frameset", "math", "object", "select", "svg", "template"};

std::optional<char32_t> reference_value(std::string_view reference) {
  // "&#65;" or "&#x41;"
  if (reference.size() < 4 || reference[1] != '#') return std::nullopt;
  const bool hex = reference[2] == 'x' || reference[2] == 'X';
  char32_t value = 0;
  for (char c : reference.substr(hex ? 3 : 2, reference.size() - (hex ? 4 : 3))) {
    const char32_t digit = is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * (hex ? 16 : 10) + digit;
  }
  return value;
}

// An attribute value as a browser reads it, as far as it matters here:
// numeric references to ASCII and the five basic named references decoded;
// other references kept as written.
std::string decode_attribute(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::size_t length = value[i] == '&' ? reference_length(value.substr(i), false) : 0;
    if (length == 0) {
      out += value[i];
      continue;
    }
    const std::string_view reference = value.substr(i, length);
    const std::string name = lower_ascii(reference);
    std::optional<char32_t> code = reference_value(reference);
    if (name == "&amp;") code = '&';
    if (name == "&lt;") code = '<';
    if (name == "&gt;") code = '>';
    if (name == "&quot;") code = '"';
    if (name == "&apos;") code = '\'';
    if (code && *code < 0x80) {
      if (*code >= 0x20 && *code != 0x7F) out += static_cast<char>(*code);
    } else {
      out.append(reference);
    }
    i += length - 1;
  }
  return out;
}

// The bytes that end an address's scheme: its colon, or the start of a path,
// query or fragment (an address without a colon before them is relative).
constexpr std::string_view kSchemeEnds = ":/?#";

// is_safe_address (below) for `value` whose first byte of kSchemeEnds is at
// `stop` (npos: none). Reads no further than the scheme, and no more of it
// than the longest safe one, so that many addresses sharing one long tail
// (the url( of a style sheet) cost no more than their heads.
bool is_safe_scheme(std::string_view value, std::size_t stop) {
  if (stop == std::string_view::npos || value[stop] != ':') return true;
  constexpr std::size_t kLongestSafeScheme = 6;  // "mailto"
  std::string scheme;
  for (std::size_t i = 0; i < stop && scheme.size() <= kLongestSafeScheme; ++i) {
    if (static_cast<unsigned char>(value[i]) > 0x20) scheme += value[i];
  }
  scheme = lower_ascii(scheme);
  return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto";
}

// An address a link or image may have: http, https, ftp, mailto, or
// relative. Blanks and control bytes are ignored, as browsers do.
bool is_safe_address(std::string_view value) { return is_safe_scheme(value, value.find_first_of(kSchemeEnds)); }

std::string without_css_comments(std::string_view css) {
  std::string out;
  for (std::size_t i = 0; i < css.size(); ++i) {
    if (css.substr(i).starts_with("/*")) {
      const std::size_t end = css.find("*/", i + 2);
      if (end == std::string_view::npos) break;
      i = end + 1;
      out += ' ';
      continue;
    }
    out += css[i];
  }
  return out;
}

// A style sheet (comments already removed) that can neither run a script
// nor fetch one: no escapes, no script addresses, none of the old browsers'
// script hooks, only safe addresses in url().
bool is_safe_css(std::string_view css) {
  const std::string lower = lower_ascii(css);
  constexpr std::array kRefused{"\\", "<", "expression", "javascript", "vbscript", "behavior",
                                "binding", "@import", "&#"};
  for (std::string_view word : kRefused) {
    if (lower.find(word) != std::string::npos) return false;
  }
  // Nested "url(url(url(..." share one ')' and one tail: the ')' and the end
  // of the scheme are looked for again only once passed, and the blanks and
  // quotes at an address's end, which cannot change its scheme, are not
  // looked at.
  std::size_t end = lower.find(')');
  std::size_t stop = lower.find_first_of(kSchemeEnds);
  for (std::size_t at = lower.find("url("); at != std::string::npos; at = lower.find("url(", at + 4)) {
    if (end != std::string::npos && end < at) end = lower.find(')', at);
    if (end == std::string::npos) return false;
    std::size_t start = at + 4;
    while (start < end && (is_space(lower[start]) || lower[start] == '"' || lower[start] == '\'')) ++start;
    if (stop != std::string::npos && stop < start) stop = lower.find_first_of(kSchemeEnds, start);
    const std::string_view address = std::string_view(lower).substr(start, end - start);
    if (!is_safe_scheme(address, stop == std::string::npos || stop >= end ? std::string_view::npos : stop - start)) {
      return false;
    }
  }
  return true;
}

// Where `lower_word` (lower-case ASCII) first occurs in `text` from `from`
// on, in any ASCII case; npos when nowhere. Searches the text in place, as
// the sanitizer does once per element.
std::size_t find_any_case(std::string_view text, std::string_view lower_word, std::size_t from) {
  for (std::size_t at = from; at < text.size() && text.size() - at >= lower_word.size(); ++at) {
    std::size_t k = 0;
    while (k < lower_word.size()) {
      char c = text[at + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != lower_word[k]) break;
      ++k;
    }
    if (k == lower_word.size()) return at;
  }
  return std::string_view::npos;
}

struct Attribute {
  std::string name;
  std::optional<std::string> value;
};

class Sanitizer {
 public:
  explicit Sanitizer(std::string_view html) : in_(html) {}

  std::string run() {
    out_.reserve(in_.size());
    while (at_ < in_.size()) {
      const std::size_t lt = in_.find('<', at_);
      append_text(in_.substr(at_, lt == std::string_view::npos ? std::string_view::npos : lt - at_));
      if (lt == std::string_view::npos) break;
      at_ = lt;
      markup();
    }
    return std::move(out_);
  }

 private:
  void append_text(std::string_view text) { append_escaped(out_, text, false); }

  // At a '<'.
  void markup() {
    const std::string_view rest = in_.substr(at_);
    if (rest.starts_with("<!--")) {
      const std::size_t end = in_.find("-->", at_ + 4);
      at_ = end == std::string_view::npos ? in_.size() : end + 3;
      return;
    }
    if (rest.size() >= 2 && (rest[1] == '!' || rest[1] == '?')) {
      const std::size_t end = in_.find('>', at_);
      at_ = end == std::string_view::npos ? in_.size() : end + 1;
      return;
    }
    const bool end_tag = rest.size() >= 2 && rest[1] == '/';
    const std::size_t name_start = at_ + (end_tag ? 2 : 1);
    if (name_start >= in_.size() || !is_alpha(in_[name_start])) {
      out_ += "&lt;";
      ++at_;
      return;
    }
    std::size_t i = name_start;
    while (i < in_.size() && (is_alnum(in_[i]) || in_[i] == '-' || in_[i] == ':')) ++i;
    const std::string name = lower_ascii(in_.substr(name_start, i - name_start));
    at_ = i;
    std::vector<Attribute> attributes = read_attributes();
    if (end_tag) {
      // The page's own end closes the body.
      if (kKeptElements.contains(name) && !kVoidElements.contains(name) && name != "body") {
        out_ += "</" + name + ">";
      }
      return;
    }
    if (kRawTextElements.contains(name)) return raw_text(name);
    if (kDroppedWithContent.contains(name)) return skip_element(name);
    if (kKeptElements.contains(name)) write_tag(name, attributes);
  }

  // From after the tag name to past the '>' (or the end).
  std::vector<Attribute> read_attributes() {
    std::vector<Attribute> attributes;
    while (at_ < in_.size()) {
      while (at_ < in_.size() && (is_space(in_[at_]) || in_[at_] == '/')) ++at_;
      if (at_ >= in_.size()) break;
      if (in_[at_] == '>') {
        ++at_;
        break;
      }
      const std::size_t start = at_;
      ++at_;  // a name may begin with any byte, even '='
      while (at_ < in_.size() && !is_space(in_[at_]) && in_[at_] != '>' && in_[at_] != '/' && in_[at_] != '=') {
        ++at_;
      }
      Attribute attribute{lower_ascii(in_.substr(start, at_ - start)), std::nullopt};
      std::size_t j = at_;
      while (j < in_.size() && is_space(in_[j])) ++j;
      if (j < in_.size() && in_[j] == '=') {
        j++;
        while (j < in_.size() && is_space(in_[j])) ++j;
        if (j < in_.size() && (in_[j] == '"' || in_[j] == '\'')) {
          const std::size_t close = in_.find(in_[j], j + 1);
          const std::size_t end = close == std::string_view::npos ? in_.size() : close;
          attribute.value = std::string(in_.substr(j + 1, end - j - 1));
          at_ = close == std::string_view::npos ? in_.size() : close + 1;
        } else {
          std::size_t end = j;
          while (end < in_.size() && !is_space(in_[end]) && in_[end] != '>') ++end;
          attribute.value = std::string(in_.substr(j, end - j));
          at_ = end;
        }
      }
      attributes.push_back(std::move(attribute));
    }
    return attributes;
  }

  // Past the end tag "</name" of a raw text element, keeping only a safe
  // style sheet or, for the text elements, the text.
  void raw_text(const std::string& name) {
    const std::size_t end = name == "plaintext" ? std::string_view::npos : find_any_case(in_, "</" + name, at_);
    const std::string_view content = in_.substr(at_, end == std::string_view::npos ? end : end - at_);
    if (end == std::string_view::npos) {
      at_ = in_.size();
    } else {
      const std::size_t gt = in_.find('>', end);
      at_ = gt == std::string_view::npos ? in_.size() : gt + 1;
    }
    if (name == "style") {
      const std::string css = without_css_comments(content);
      if (is_safe_css(css)) out_ += "<style>" + css + "</style>";
    } else if (name == "xmp" || name == "plaintext" || name == "textarea") {
      out_ += "<pre>";
      append_escaped(out_, content, false);
      out_ += "</pre>";
    }
  }

  // Past the end tag that closes the element `name` begun just before.
  void skip_element(const std::string& name) {
    int depth = 1;
    std::size_t i = at_;
    while (depth > 0) {
      const std::size_t next = find_any_case(in_, name, i);
      if (next == std::string_view::npos) {
        at_ = in_.size();
        return;
      }
      i = next + name.size();
      const bool bounded = i >= in_.size() || !is_alnum(in_[i]);
      if (bounded && next >= at_ + 2 && in_.compare(next - 2, 2, "</") == 0) --depth;
      else if (bounded && next >= at_ + 1 && in_[next - 1] == '<') ++depth;
    }
    const std::size_t gt = in_.find('>', i);
    at_ = gt == std::string_view::npos ? in_.size() : gt + 1;
  }

  void write_tag(const std::string& name, const std::vector<Attribute>& attributes) {
    out_ += "<" + name;
    std::set<std::string, std::less<>> written;
    for (const Attribute& attribute : attributes) {
      if (!kKeptAttributes.contains(attribute.name) || written.contains(attribute.name)) continue;
      written.insert(attribute.name);
      if (!attribute.value) {
        out_ += " " + attribute.name;
        continue;
      }
      const std::string value = decode_attribute(*attribute.value);
      if (kAddressAttributes.contains(attribute.name) && !is_safe_address(value)) continue;
      std::string shown = value;
      if (attribute.name == "style") {
        shown = without_css_comments(value);
        if (!is_safe_css(shown)) continue;
      }
      if (attribute.name == "target" &&
          !std::all_of(value.begin(), value.end(), [](char c) { return is_alnum(c) || c == '_'; })) {
        continue;
      }
      out_ += " " + attribute.name + "=\"";
      // Only the references decode_attribute kept (to characters beyond
      // ASCII) stay references; every other '&' is a literal one.
      append_escaped(out_, shown, true);
      out_ += "\"";
    }
    out_ += ">";
  }

  std::string_view in_;
  std::size_t at_ = 0;
  std::string out_;
};

}  // namespace

std::string sanitize_html(std::string_view html) { return Sanitizer(html).run(); }

}  // namespace larkspur::mime_detail
