// Mail charsets on Linux: iconv decodes the charset to UTF-32, and each
// character is encoded to CP932 on its own, so a character without a CP932
// form can become a numeric reference instead of failing the whole text.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>

#include "platform/common/mail_charset.h"
#include "platform/platform.h"

namespace larkspur::platform {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(handle_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted; nullopt on an invalid, incomplete or
  // unconvertible sequence or a substitution.
  std::optional<std::string> convert(std::string_view input) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(input.size() * 4 + 16, '\0');
    // iconv's interface is not const-correct; it never writes to the input.
    char* in_at = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    std::size_t used = 0;
    while (true) {
      char* out_at = out.data() + used;
      std::size_t out_left = out.size() - used;
      // The last call (no input) flushes a stateful decoder.
      const std::size_t result = in_left > 0 ? iconv(handle_, &in_at, &in_left, &out_at, &out_left)
                                             : iconv(handle_, nullptr, nullptr, &out_at, &out_left);
      used = out.size() - out_left;
      if (result == static_cast<std::size_t>(-1)) {
        if (errno != E2BIG) return std::nullopt;
        out.resize(out.size() * 2);
        continue;
      }
      if (result != 0) return std::nullopt;
      if (in_left == 0) break;
    }
    out.resize(used);
    return out;
  }

  // The same conversion a piece of the input at a time, each piece's output
  // handed to `take` (whole characters), so that a large text never needs
  // its whole converted form at once; false where convert gives nullopt.
  template <typename Take>
  bool convert_in_pieces(std::string_view input, const Take& take) {
    constexpr std::size_t kPieceBytes = 64 * 1024;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(std::min(kPieceBytes, input.size()) * 4 + 16, '\0');
    char* in_at = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    std::size_t piece = kPieceBytes;
    while (true) {
      char* out_at = out.data();
      std::size_t out_left = out.size();
      const std::size_t offered = std::min(piece, in_left);
      const bool more = offered < in_left;
      std::size_t offered_left = offered;
      const std::size_t result = in_left > 0 ? iconv(handle_, &in_at, &offered_left, &out_at, &out_left)
                                             : iconv(handle_, nullptr, nullptr, &out_at, &out_left);
      const int error = errno;
      in_left -= offered - offered_left;
      take(std::string_view(out.data(), out.size() - out_left));
      if (result == static_cast<std::size_t>(-1)) {
        // A full output, or a character cut at the end of the piece (read
        // again with the next, longer if nothing of it could be read).
        if (error == E2BIG || (error == EINVAL && more)) {
          piece = offered_left == offered ? piece * 2 : kPieceBytes;
          continue;
        }
        return false;
      }
      if (result != 0) return false;
      if (in_left == 0) break;
    }
    return true;
  }

 private:
  iconv_t handle_;
};

}  // namespace

bool detail::append_os_cp932(std::string& out, char32_t code) {
  thread_local Iconv to_cp932("CP932", "UTF-32LE");
  const char utf32[4] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                         static_cast<char>((code >> 16) & 0xFF), static_cast<char>(code >> 24)};
  const std::optional<std::string> bytes =
      to_cp932.ok() ? to_cp932.convert(std::string_view(utf32, 4)) : std::nullopt;
  if (!bytes || bytes->empty()) return false;
  out += *bytes;
  return true;
}

bool detail::os_decode(const MailCharset& charset, std::string_view bytes,
                       const std::function<void(std::u32string_view)>& take) {
  Iconv to_utf32("UTF-32LE", charset.iconv_name);
  if (!to_utf32.ok()) return false;
  // Converted and handed on in pieces, so that no buffer several times the
  // text's size is ever made.
  std::u32string codes;
  return to_utf32.convert_in_pieces(bytes, [&codes, &take](std::string_view utf32) {
    codes.clear();
    for (std::size_t at = 0; at + 4 <= utf32.size(); at += 4) {
      const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(utf32[at + i])); };
      codes += byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    }
    take(codes);
  });
}

}  // namespace larkspur::platform
