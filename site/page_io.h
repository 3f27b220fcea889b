// How the site writes its pages. Every page can be regenerated from the logs
// by the full rebuild, so a page is replaced atomically (a failure leaves the
// old page) but need not be forced to disk.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace larkspur::site_detail {

inline bool write_page(std::string_view path, std::string_view bytes) {
  return platform::write_file_fast(path, bytes);
}

// The one-line reasons of a failed site operation (Shift_JIS).
inline std::string not_written_reason(std::string_view path) {
  return platform::jp("ページを書き込めませんでした: ") + std::string(path);
}
inline std::string too_large_reason(std::string_view path) {
  return platform::jp("リンクページが上限の大きさに達しました: ") + std::string(path);
}
inline std::string not_deleted_reason(std::string_view path) {
  return platform::jp("ページを削除できませんでした: ") + std::string(path);
}
inline std::string behind_link_reason(std::string_view path) {
  return platform::jp("リンクのフォルダーの中は削除しません: ") + std::string(path);
}

}  // namespace larkspur::site_detail
