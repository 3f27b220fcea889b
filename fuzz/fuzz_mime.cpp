// The extended mail decoder over arbitrary messages: it never fails, its
// subject is one bounded line, and the log text it gives keeps the form the
// pages rely on (the mark, a header block without empty lines, an HTML page
// with no script tag or script address) with no NUL or CR.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "retrieval/mime.h"
#include "retrieval/mime_detail.h"
#include "settings/records.h"

namespace {

bool is_cp932(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF)) continue;
    if (!larkspur::platform::is_sjis_lead_byte(byte) || i + 1 == text.size() ||
        !larkspur::mime_detail::is_cp932_pair(byte, static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);

  const std::string subject = larkspur::extended_subject(raw);
  if (subject.size() > larkspur::kMaxExtendedSubjectBytes) std::abort();
  if (subject.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) std::abort();
  if (!is_cp932(subject)) std::abort();

  const std::string text = larkspur::extended_log_text(raw);
  if (!text.starts_with(larkspur::kExtendedLogMark)) std::abort();
  if (text.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) std::abort();
  if (!is_cp932(text)) std::abort();
  const std::size_t blank = text.find("\n\n");
  if (blank == std::string::npos || !text.substr(blank + 2).starts_with("<HTML>")) std::abort();
  std::string lower = text.substr(blank + 2);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower.find("<script") != std::string::npos || lower.find("=\"javascript:") != std::string::npos) std::abort();
  return 0;
}
