// Text and path conversion on Linux, through glibc's iconv "CP932", the
// Microsoft variant of Shift_JIS that Windows uses as code page 932.
#include <errno.h>
#include <iconv.h>

#include <algorithm>

#include "platform/common/names.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace larkspur::platform {

namespace {

// One iconv descriptor per thread and direction, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (handle_ != invalid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The whole input converted, or nullopt on any invalid, incomplete or
  // unconvertible sequence.
  std::optional<std::string> convert(std::string_view input) {
    if (handle_ == invalid()) return std::nullopt;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // reset the state
    std::string out(input.size() * 3 + 8, '\0');
    // iconv's interface is not const-correct; it never writes to the input.
    char* in_at = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    std::size_t out_used = 0;
    while (in_left > 0) {
      char* out_at = out.data() + out_used;
      std::size_t out_left = out.size() - out_used;
      const std::size_t result = iconv(handle_, &in_at, &in_left, &out_at, &out_left);
      out_used = out.size() - out_left;
      if (result == static_cast<std::size_t>(-1)) {
        if (errno != E2BIG) return std::nullopt;
        out.resize(out.size() * 2);
      } else if (result != 0) {
        // A nonzero count means irreversible (substituted) conversions.
        return std::nullopt;
      }
    }
    out.resize(out_used);
    return out;
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t handle_;
};

Converter& to_utf8() {
  thread_local Converter converter("UTF-8", "CP932");
  return converter;
}

Converter& to_sjis() {
  thread_local Converter converter("CP932", "UTF-8");
  return converter;
}

}  // namespace

std::optional<std::string> sjis_to_utf8(std::string_view sjis) {
  if (sjis.empty()) return std::string{};
  return to_utf8().convert(sjis);
}

std::optional<std::string> utf8_to_sjis(std::string_view utf8) {
  if (utf8.empty()) return std::string{};
  return to_sjis().convert(utf8);
}

namespace posix {

namespace {

// The UTF-8 form of a Shift_JIS path, with '\' mapped to '/' only once the
// conversion is done: in UTF-8 no multi-byte character holds a byte below
// 0x80, so only then is a 0x5C byte certain to be a backslash of its own.
std::optional<std::string> convert_path(std::string_view sjis) {
  auto utf8 = sjis_to_utf8(sjis);
  if (utf8) std::replace(utf8->begin(), utf8->end(), '\\', '/');
  return utf8;
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::optional<std::string> native_path(std::string_view sjis_path) {
  if (sjis_path.empty() || sjis_path.find('\0') != std::string_view::npos) return std::nullopt;
  // Paths come in runs from one folder (every page of a web folder), so the
  // folder part's conversion is kept per thread; an ASCII name needs none.
  // Shift_JIS is stateless and the split lies between two characters, so the
  // pieces convert to the pieces of the whole.
  const std::size_t last = detail::sjis_last_separator(sjis_path);
  if (last != std::string_view::npos && last > 0) {
    thread_local std::string cached_folder;
    thread_local std::optional<std::string> cached_native;
    const std::string_view folder = sjis_path.substr(0, last);
    if (folder != cached_folder) {
      cached_native = convert_path(folder);
      cached_folder = folder;
    }
    if (!cached_native) return std::nullopt;
    const std::string_view name = sjis_path.substr(last + 1);
    std::optional<std::string> native_name =
        is_ascii(name) ? std::optional<std::string>(std::string(name)) : convert_path(name);
    if (!native_name) return std::nullopt;
    return *cached_native + "/" + *native_name;
  }
  auto utf8 = sjis_to_utf8(sjis_path);
  if (!utf8) return std::nullopt;
  // Only now is a 0x5C byte certain to be a backslash of its own: in UTF-8 no
  // multi-byte character contains a byte below 0x80.
  std::replace(utf8->begin(), utf8->end(), '\\', '/');
  return utf8;
}

}  // namespace posix
}  // namespace larkspur::platform
