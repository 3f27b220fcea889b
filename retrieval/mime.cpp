// The MIME structure of a message and the page stored for it: the parts are
// walked, their transfer encodings and charsets undone, and what a reader
// should see (text parts, HTML parts, the list of attachments) is put
// together as one HTML page.
#include "retrieval/mime.h"

#include <cctype>
#include <map>
#include <vector>

#include "platform/platform.h"
#include "retrieval/mime_detail.h"
#include "settings/records.h"

namespace larkspur {
namespace {

using mime_detail::lower_ascii;

// Nested multiparts deeper than this are not looked into: no real message
// comes near it, and it bounds the work on a crafted one.
constexpr int kMaxPartDepth = 16;

// The parts looked into in one message, nested ones included: far beyond
// any real message, and a bound on the work per part of a crafted one.
constexpr std::size_t kMaxParts = 10'000;

// The HTML page of a message starts like the plain page and names its charset.
constexpr std::string_view kPageStart =
    "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">"
    "<TITLE></TITLE></HEAD>";
constexpr std::string_view kPlainBodyStart = "<body BGCOLOR=#FAFEA3><P><BR><pre>\n";
constexpr std::string_view kPlainBodyEnd = "</pre></body></HTML>\n";
constexpr std::string_view kHtmlBodyEnd = "</body></HTML>\n";

// How far into an HTML part a <meta> naming its charset is looked for.
constexpr std::size_t kMetaCharsetSearchBytes = 2048;

struct Entity {
  std::string_view headers;
  std::string_view body;
};

Entity split_entity(std::string_view text) {
  for (std::size_t pos = 0; pos <= text.size();) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;
    std::string_view line = text.substr(pos, end - pos);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) return {text.substr(0, pos), text.substr(end + 1)};
    pos = end + 1;
  }
  return {text, {}};
}

// A structured field value "type/subtype; a=1; b="x y"": its first token and
// its parameters (names in lower case). RFC 2231 parameters (name*=charset''
// text, name*0*=..., name*1=...) are joined and decoded to Shift_JIS, plain
// ones have their encoded words decoded (as many mail writers put them in
// file names).
struct FieldValue {
  std::string token;
  std::map<std::string, std::string> params;
};

FieldValue parse_field_value(std::string_view value) {
  FieldValue result;
  struct Section {
    std::string text;
    bool encoded = false;
  };
  std::map<std::string, std::map<int, Section>> extended;
  std::size_t i = 0;
  const auto read_until_semicolon = [&](bool allow_quotes) {
    std::string out;
    while (i < value.size() && value[i] != ';') {
      if (allow_quotes && value[i] == '"') {
        for (++i; i < value.size() && value[i] != '"'; ++i) {
          if (value[i] == '\\' && i + 1 < value.size()) ++i;
          out += value[i];
        }
        if (i < value.size()) ++i;
        continue;
      }
      out += value[i++];
    }
    return out;
  };
  result.token = lower_ascii(trim_blanks(read_until_semicolon(false)));
  // The next '=' and ';' from i on, looked for again only once i has passed
  // them: a value of many parameters without '=' stays linear.
  std::size_t equals = 0;
  std::size_t semicolon = 0;
  const auto next = [&](char c, std::size_t& found) {
    if (found != std::string_view::npos && found < i) found = value.find(c, i);
    return found;
  };
  while (i < value.size()) {
    ++i;  // the ';'
    next('=', equals);
    next(';', semicolon);
    if (equals == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < equals)) {
      read_until_semicolon(true);
      continue;
    }
    const std::string name = lower_ascii(trim_blanks(value.substr(i, equals - i)));
    i = equals + 1;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    const std::string text(trim_blanks(read_until_semicolon(true)));
    const std::size_t star = name.find('*');
    if (star == std::string::npos) {
      result.params.emplace(name, text);
      continue;
    }
    // name*, name*N or name*N*: a section of an RFC 2231 value.
    const std::string base = name.substr(0, star);
    std::string_view rest = std::string_view(name).substr(star + 1);
    const bool encoded = rest.empty() || rest.ends_with('*');
    if (rest.ends_with('*')) rest.remove_suffix(1);
    int index = 0;
    for (char c : rest) index = c >= '0' && c <= '9' && index < 1000 ? index * 10 + (c - '0') : index;
    extended[base].emplace(index, Section{text, encoded});
  }
  for (const auto& [base, sections] : extended) {
    std::string charset;
    std::string bytes;
    for (const auto& [index, section] : sections) {
      std::string_view text = section.text;
      if (section.encoded && index == sections.begin()->first) {
        // charset'language'text
        const std::size_t q1 = text.find('\'');
        const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
          charset = text.substr(0, q1);
          text.remove_prefix(q2 + 1);
        }
      }
      bytes += section.encoded ? mime_detail::hex_unescape(text, '%') : std::string(text);
    }
    result.params[base] = mime_detail::text_to_sjis(charset, bytes);
  }
  for (auto& [name, text] : result.params) {
    if (!extended.contains(name)) text = mime_detail::decode_header_text(text);
  }
  return result;
}

std::string quoted_printable_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
      continue;
    }
    if (const std::optional<char> byte = mime_detail::hex_byte(text, i + 1)) {
      out += *byte;
      i += 2;
      continue;
    }
    // A soft line break: '=' with only blanks up to the line end.
    std::size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t' || text[j] == '\r')) ++j;
    if (j == text.size() || text[j] == '\n') {
      i = j;
      continue;
    }
    out += '=';
  }
  return out;
}

// The charset an HTML part names in a <meta> when its header does not.
std::string meta_charset(std::string_view html) {
  const std::string head = lower_ascii(html.substr(0, kMetaCharsetSearchBytes));
  const std::size_t at = head.find("charset=");
  if (at == std::string::npos) return {};
  std::size_t start = at + 8;
  while (start < head.size() && (head[start] == '"' || head[start] == '\'' || head[start] == ' ')) ++start;
  std::size_t end = start;
  while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                               head[end] == '_' || head[end] == '.' || head[end] == ':')) {
    ++end;
  }
  return head.substr(start, end - start);
}

// Drops the NUL bytes of `text` and makes each CR LF, and each other CR, one
// LF, in place (a message's texts are as large as the message).
void strip_cr_and_nul(std::string& text) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\0') continue;
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      text[kept++] = '\n';
      continue;
    }
    text[kept++] = text[i];
  }
  text.resize(kept);
}

// An HTML part's own references mean characters as much as the decoder's
// do: its "&#" are given back (text_to_sjis wrote each one
// kLiteralAmpersand + "#", and writes that sequence for nothing else).
std::string html_references(std::string_view sjis) {
  const std::string escaped = std::string(mime_detail::kLiteralAmpersand) + "#";
  std::string out;
  out.reserve(sjis.size());
  for (std::size_t at = 0; at < sjis.size();) {
    const std::size_t found = sjis.find(escaped, at);
    if (found == std::string_view::npos) {
      out.append(sjis.substr(at));
      break;
    }
    out.append(sjis.substr(at, found - at));
    out += "&#";
    at = found + escaped.size();
  }
  return out;
}

// What a message shows, in order, and what it carries without showing.
struct Shown {
  struct Block {
    bool html = false;
    std::string markup;
  };
  std::vector<Block> blocks;
  std::vector<std::string> attachments;  // "name (N バイト)", Shift_JIS
  std::size_t parts = 0;                 // entities looked into so far
  bool has_html() const {
    for (const Block& block : blocks) {
      if (block.html) return true;
    }
    return false;
  }
};

std::vector<std::string_view> multipart_parts(std::string_view body, std::string_view boundary) {
  const std::string delimiter = "--" + std::string(boundary);
  std::vector<std::string_view> parts;
  std::size_t part_start = std::string_view::npos;
  for (std::size_t pos = 0; pos < body.size();) {
    std::size_t end = body.find('\n', pos);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(pos, end - pos);
    if (line.starts_with(delimiter)) {
      std::string_view rest = line.substr(delimiter.size());
      const bool closing = rest.starts_with("--");
      if (closing) rest.remove_prefix(2);
      if (trim_blanks(rest).empty()) {
        if (part_start != std::string_view::npos) {
          // The line end before the delimiter belongs to the delimiter.
          std::size_t part_end = pos > part_start ? pos - 1 : part_start;
          if (part_end > part_start && body[part_end - 1] == '\r') --part_end;
          parts.push_back(body.substr(part_start, part_end - part_start));
        }
        if (closing) return parts;
        part_start = end + 1 > body.size() ? body.size() : end + 1;
      }
    }
    pos = end + 1;
  }
  if (part_start != std::string_view::npos) parts.push_back(body.substr(part_start));
  return parts;
}

// What is past the limits (kMaxPartDepth, kMaxParts) is not lost: its raw
// text is shown as a text part, escaped like any other.
void show_raw(std::string_view text, Shown& shown) {
  std::string sjis = mime_detail::text_to_sjis("", text);
  strip_cr_and_nul(sjis);
  shown.blocks.push_back({false, mime_detail::text_to_markup(sjis)});
}

void show_entity(std::string_view text, int depth, Shown& shown, std::string_view default_media = "text/plain");

// True when `part` is plain text or a multipart/alternative or
// multipart/related that holds one, however deeply: an alternative the reader
// can have as plain text.
bool offers_plain_text(std::string_view part, int depth) {
  if (depth > kMaxPartDepth) return false;
  const Entity entity = split_entity(part);
  const FieldValue type = parse_field_value(header_field(entity.headers, "Content-Type"));
  if (type.token == "text/plain" || type.token.empty()) return true;
  if (type.token != "multipart/alternative" && type.token != "multipart/related") return false;
  const auto boundary = type.params.find("boundary");
  if (boundary == type.params.end() || boundary->second.empty()) return false;
  for (std::string_view inner : multipart_parts(entity.body, boundary->second)) {
    if (offers_plain_text(inner, depth + 1)) return true;
  }
  return false;
}

void show_parts(std::string_view content_subtype, const std::vector<std::string_view>& parts, int depth,
                Shown& shown) {
  if (content_subtype != "alternative") {
    // The parts of a digest are messages unless they say otherwise.
    const std::string_view default_media = content_subtype == "digest" ? "message/rfc822" : "text/plain";
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (shown.parts >= kMaxParts) {
        // The parts are slices of one body: the rest is one raw text.
        const std::string_view& last = parts.back();
        show_raw(std::string_view(parts[i].data(), last.data() + last.size() - parts[i].data()), shown);
        return;
      }
      show_entity(parts[i], depth + 1, shown, default_media);
    }
    return;
  }
  // Of the alternatives, the plain text (or one that holds it); else the
  // HTML; else the last one (the richest, by the order senders give them).
  std::string_view chosen;
  int best = 0;
  for (std::string_view part : parts) {
    const FieldValue type = parse_field_value(header_field(split_entity(part).headers, "Content-Type"));
    const int rank = offers_plain_text(part, depth + 1) ? 3 : type.token == "text/html" ? 2 : 1;
    if (rank > best || (rank == 1 && best == 1)) {
      best = rank;
      chosen = part;
    }
  }
  if (best > 0) show_entity(chosen, depth + 1, shown);
}

void show_entity(std::string_view text, int depth, Shown& shown, std::string_view default_media) {
  if (depth > kMaxPartDepth) return show_raw(text, shown);
  ++shown.parts;
  const Entity entity = split_entity(text);
  const FieldValue type = parse_field_value(header_field(entity.headers, "Content-Type"));
  const std::string encoding = lower_ascii(trim_blanks(header_field(entity.headers, "Content-Transfer-Encoding")));
  const FieldValue disposition = parse_field_value(header_field(entity.headers, "Content-Disposition"));
  const std::string media = type.token.empty() ? std::string(default_media) : type.token;
  const std::size_t slash = media.find('/');
  const std::string top = media.substr(0, slash);
  const std::string sub = slash == std::string::npos ? std::string() : media.substr(slash + 1);

  if (top == "multipart") {
    const auto boundary = type.params.find("boundary");
    if (boundary != type.params.end() && !boundary->second.empty()) {
      show_parts(sub, multipart_parts(entity.body, boundary->second), depth, shown);
      return;
    }
  }
  // The body with its transfer encoding undone; without one, the body itself
  // (a slice of the one raw message, never a copy at each level).
  std::string decoded;
  std::string_view data = entity.body;
  if (encoding == "base64") {
    decoded = mime_detail::base64_decode(entity.body);
    data = decoded;
  } else if (encoding == "quoted-printable") {
    decoded = quoted_printable_decode(entity.body);
    data = decoded;
  }
  if (media == "message/rfc822" && disposition.token != "attachment") {
    show_entity(data, depth + 1, shown);
    return;
  }
  std::string name;
  if (auto found = disposition.params.find("filename"); found != disposition.params.end()) name = found->second;
  if (auto found = type.params.find("name"); name.empty() && found != type.params.end()) name = found->second;
  const bool shown_inline = top == "text" && disposition.token != "attachment" && (name.empty() || sub == "plain" || sub == "html");
  if (!shown_inline) {
    if (name.empty()) name = platform::jp("(名前なし)");
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    shown.attachments.push_back(name + " (" + std::to_string(data.size()) + platform::jp(" バイト)"));
    return;
  }
  std::string charset;
  if (auto found = type.params.find("charset"); found != type.params.end()) charset = found->second;
  const bool html = sub == "html";
  if (html && charset.empty()) charset = meta_charset(data);
  // Each intermediate text goes as soon as the next one is made.
  std::string sjis = mime_detail::text_to_sjis(charset, data);
  std::string().swap(decoded);
  strip_cr_and_nul(sjis);
  if (html) sjis = html_references(sjis);
  shown.blocks.push_back({html, html ? mime_detail::sanitize_html(sjis) : mime_detail::text_to_markup(sjis)});
}

std::string attachment_lines(const Shown& shown) {
  std::string lines;
  for (const std::string& attachment : shown.attachments) {
    lines += mime_detail::text_to_markup(platform::jp("添付ファイル: ") + attachment);
    lines += '\n';
  }
  return lines;
}

// Appends the page of `shown` to `page`, letting go of each block's markup
// once it is copied, so that the blocks and the page are not both whole.
void append_page(Shown& shown, std::string& page) {
  const std::string lines = attachment_lines(shown);
  std::size_t size = page.size() + kPageStart.size() + kPlainBodyStart.size() + kPlainBodyEnd.size() +
                     lines.size() + 32;
  for (const Shown::Block& block : shown.blocks) size += block.markup.size() + 16;
  page.reserve(size);
  const auto take = [&page](Shown::Block& block) {
    page += block.markup;
    std::string().swap(block.markup);
  };
  page += kPageStart;
  if (!shown.has_html()) {
    page += kPlainBodyStart;
    for (std::size_t i = 0; i < shown.blocks.size(); ++i) {
      if (i > 0 && !page.ends_with('\n')) page += '\n';
      take(shown.blocks[i]);
    }
    if (!shown.attachments.empty()) {
      if (!page.ends_with('\n')) page += '\n';
      page += '\n';
      page += lines;
    }
    page += kPlainBodyEnd;
    return;
  }
  page += '\n';
  for (Shown::Block& block : shown.blocks) {
    if (block.html) {
      take(block);
    } else {
      page += "<pre>";
      take(block);
      page += "</pre>";
    }
    page += '\n';
  }
  if (!shown.attachments.empty()) {
    page += "<hr><pre>";
    page += lines;
    page += "</pre>\n";
  }
  page += kHtmlBodyEnd;
}

}  // namespace

std::string extended_log_text(std::string_view raw) {
  const Entity message = split_entity(raw);
  Shown shown;
  show_entity(raw, 0, shown);
  std::string text(kExtendedLogMark);
  text += mime_detail::decoded_header_lines(message.headers);
  text += '\n';
  append_page(shown, text);
  strip_cr_and_nul(text);
  return text;
}

}  // namespace larkspur
