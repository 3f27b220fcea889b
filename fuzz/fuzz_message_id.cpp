// The ids of a message from a server without UIDL, and the keys and
// fingerprints of any message, over arbitrary header blocks: each is a usable
// id (so it can stand on a line of the ids files), the Message-ID itself when
// that is usable, else "#" and 16 hex digits; the fingerprint is 16 hex
// digits. A digest key does not depend on CR before LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "job/seen_messages.h"

namespace {

bool hex_digits(std::string_view text) {
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

void check_id(const std::string& id) {
  if (!larkspur::usable_message_id(id)) std::abort();
  if (id.starts_with('#') && id.size() == 17 && hex_digits(std::string_view(id).substr(1))) return;
  if (id.find('\t') != std::string::npos || id.front() == ' ' || id.back() == ' ') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string id = larkspur::fallback_message_id(in);
  check_id(id);
  if (larkspur::fallback_message_id(in) != id) std::abort();
  const std::string key = larkspur::message_key(in);
  check_id(key);
  if (!key.starts_with('#') && key != id) std::abort();
  // The same message with CR LF line ends (a file written on Windows) gives
  // the same digest key.
  if (in.find('\r') == std::string_view::npos) {
    std::string crlf;
    for (char ch : in) {
      if (ch == '\n') crlf += '\r';
      crlf += ch;
    }
    const std::string crlf_key = larkspur::message_key(crlf);
    if (key.starts_with('#') && crlf_key.starts_with('#') && crlf_key != key) std::abort();
  }
  if (!hex_digits(larkspur::message_fingerprint(in))) std::abort();
  return 0;
}
