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

bool is_letter_or_digit(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_one_of(unsigned char c, std::string_view set) {
  return c != 0 && set.find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_web_address_byte(unsigned char c) {
  return is_letter_or_digit(c) || is_one_of(c, "@#~.:_-/?=&%");
}

bool is_mail_address_byte(unsigned char c) {
  return is_letter_or_digit(c) || is_one_of(c, "@:_-.");
}

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
      out_ += body_[i];
      if (body_[i] == '/') {
        if (auto end = try_web_link(i)) {
          i = *end;  // the byte that ended the address is copied plainly next
          continue;
        }
      }
      const std::size_t next = i + 1;
      if (next < body_.size() && is_letter_or_digit(byte(next)) && next >= failed_word_end_) {
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
    lower = is_one_of(c, "<html>") ? lower + 1 : 0;
    upper = is_one_of(c, "<HTML>") ? upper + 1 : 0;
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
