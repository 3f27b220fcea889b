#include "site/log_page.h"

#include <cstddef>
#include <optional>

#include "platform/platform.h"
#include "site/page_io.h"

namespace larkspur {
namespace {

// The HTML test looks at this many leading bytes for a run of "<html>" or
// "<HTML>" bytes.
constexpr std::size_t kHtmlTestBytes = 18;
constexpr int kHtmlRunLength = 6;

// A word scores this much per "@" and 1 per "."; it becomes a link above it.
constexpr int kAtScore = 100;
constexpr int kMailLinkThreshold = 100;

constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kFtpPrefix = "ftp://";
constexpr std::string_view kMailtoPrefix = "mailto:";

// Byte classes by table: the converter asks for every byte of every page.
class ByteClass {
 public:
  constexpr ByteClass(bool letters_and_digits, std::string_view members) {
    for (int c = 0; c < 256; ++c) {
      table_[c] = letters_and_digits &&
                  ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    }
    for (char c : members) table_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool operator()(unsigned char c) const { return table_[c]; }

 private:
  bool table_[256] = {};
};

constexpr ByteClass is_letter_or_digit(true, "");
constexpr ByteClass is_web_address_byte(true, "@#~.:_-/?=&%");
constexpr ByteClass is_mail_address_byte(true, "@:_-.");
constexpr ByteClass is_slash_letter_or_digit(true, "/");
constexpr ByteClass is_lower_html_byte(false, "<html>");
constexpr ByteClass is_upper_html_byte(false, "<HTML>");

// Walks one body and builds the converted text. Positions are indexes into
// the body; the loop never reads past its end.
class Converter {
 public:
  explicit Converter(std::string_view body) : body_(body) {}

  std::string run() {
    out_.reserve(kLogPageHead.size() + body_.size() + body_.size() / 8 + kLogPageTail.size());
    out_ += kLogPageHead;
    plain_start_ = out_.size();

    std::size_t i = 0;
    if (!body_.empty() && is_letter_or_digit(byte(0))) {
      if (auto end = try_mail_link(0)) i = *end;
    }
    while (i < body_.size()) {
      // Bytes that neither are a slash nor come before a word that may be an
      // e-mail address are copied as they are, as a run.
      const std::size_t run_start = i;
      i = run_end(i);
      out_.append(body_.substr(run_start, i - run_start));
      if (i == body_.size()) break;
      out_ += body_[i];
      if (body_[i] == '/') {
        if (auto end = try_web_link(i)) {
          i = *end;  // the byte that ended the address is copied plainly next
          continue;
        }
      }
      const std::size_t next = i + 1;
      if (may_start_mail_word(next)) {
        if (auto end = try_mail_link(next)) {
          i = *end;
          continue;
        }
      }
      ++i;
    }
    out_ += kLogPageTail;
    return std::move(out_);
  }

 private:
  unsigned char byte(std::size_t i) const { return static_cast<unsigned char>(body_[i]); }

  // The first position from `i` on that holds a slash or is followed by a
  // possible e-mail word start (the end of the body when none is). Skips
  // the bytes that are neither slashes nor letters or digits in one sweep.
  std::size_t run_end(std::size_t i) const {
    const std::size_t size = body_.size();
    if (i >= size || body_[i] == '/') return i;
    for (;;) {
      std::size_t next = i + 1;
      while (next < size && !is_slash_letter_or_digit(byte(next))) ++next;
      if (next >= size) return size;
      if (body_[next] == '/') return next;
      if (next >= failed_word_end_) return next - 1;
      i = next;  // a letter inside a word known to fail: go on after it
    }
  }

  // A letter or digit where no word known to fail is under way.
  bool may_start_mail_word(std::size_t at) const {
    return at < body_.size() && is_letter_or_digit(byte(at)) && at >= failed_word_end_;
  }

  bool plain_run_ends_with(std::string_view prefix) const {
    return out_.size() - plain_start_ >= prefix.size() && std::string_view(out_).ends_with(prefix);
  }

  // The current byte (the second slash at `slash`) completed a prefix among
  // the plainly copied bytes: replace the prefix with the whole link. Returns
  // the position of the byte that ended the address.
  std::optional<std::size_t> try_web_link(std::size_t slash) {
    std::string_view prefix;
    if (plain_run_ends_with(kHttpPrefix)) {
      prefix = kHttpPrefix;
    } else if (plain_run_ends_with(kFtpPrefix)) {
      prefix = kFtpPrefix;
    } else {
      return std::nullopt;
    }
    std::size_t end = slash + 1;
    while (end < body_.size() && is_web_address_byte(byte(end))) ++end;
    const std::string_view rest = body_.substr(slash + 1, end - slash - 1);
    out_.erase(out_.size() - prefix.size());
    out_ += "<A HREF=";
    out_ += prefix;
    out_ += rest;
    out_ += " target=new>";
    out_ += prefix;
    out_ += rest;
    out_ += "</A>";
    plain_start_ = out_.size();
    return end;
  }

  // Links the candidate word that starts at `start` when it scores above the
  // threshold; returns the position of the byte that ended it. Every later
  // start inside a word that failed ends at the same byte and scores no
  // higher, so such starts are not tried again (this keeps the walk linear).
  std::optional<std::size_t> try_mail_link(std::size_t start) {
    std::size_t end = start;
    int score = 0;
    while (end < body_.size() && is_mail_address_byte(byte(end))) {
      if (body_[end] == '@') score += kAtScore;
      if (body_[end] == '.') score += 1;
      ++end;
    }
    if (score <= kMailLinkThreshold) {
      failed_word_end_ = end;
      return std::nullopt;
    }
    const std::string_view word = body_.substr(start, end - start);
    out_ += "<A HREF=";
    if (!word.starts_with(kMailtoPrefix)) out_ += kMailtoPrefix;
    out_ += word;
    out_ += " >";
    out_ += word;
    out_ += "</A>";
    plain_start_ = out_.size();
    return end;
  }

  std::string_view body_;
  std::string out_;
  std::size_t plain_start_ = 0;      // where the bytes copied plainly since the last link begin
  std::size_t failed_word_end_ = 0;  // candidates starting before this are known to fail
};

}  // namespace

bool is_html_document(std::string_view body) {
  int lower = 0;
  int upper = 0;
  for (std::size_t i = 0; i < kHtmlTestBytes; ++i) {
    const unsigned char c = i < body.size() ? static_cast<unsigned char>(body[i]) : 0;
    lower = is_lower_html_byte(c) ? lower + 1 : 0;
    upper = is_upper_html_byte(c) ? upper + 1 : 0;
    if (lower >= kHtmlRunLength || upper >= kHtmlRunLength) return true;
  }
  return false;
}

std::string convert_log_body(std::string_view body) {
  body = body.substr(0, body.find('\0'));
  if (is_html_document(body)) return std::string(body);
  return Converter(body).run();
}

bool write_log_page(std::string_view body_text, std::string_view page_path) {
  return site_detail::write_page(page_path, convert_log_body(body_text));
}

}  // namespace larkspur
