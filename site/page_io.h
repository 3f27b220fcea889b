// How the site writes its pages. Every page can be regenerated from the logs
// by the full rebuild, so a page is replaced atomically (a failure leaves the
// old page) but need not be forced to disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace larkspur::site_detail {

// A web folder holds nothing but its pages: the site's private files for a
// page (its temporary file while it is written, its spare or the file it is
// set aside to) live in the list folder above it, on the same file system,
// under names no search pattern of the system matches. `page_path` is
// "<list folder>\web\<page>"; for a page of any other folder they stay next
// to it.
inline std::string private_folder_of(std::string_view page_path) {
  const std::size_t name = page_path.rfind('\\');
  if (name == std::string_view::npos) return {};
  const std::string_view folder = page_path.substr(0, name);
  constexpr std::string_view kWeb = "\\web";
  if (folder.ends_with(kWeb) && folder.size() > kWeb.size()) {
    return std::string(folder.substr(0, folder.size() - kWeb.size() + 1));
  }
  return std::string(page_path.substr(0, name + 1));
}
inline std::string page_name_of_path(std::string_view page_path) {
  const std::size_t name = page_path.rfind('\\');
  return std::string(name == std::string_view::npos ? page_path : page_path.substr(name + 1));
}

// The private names of a page: "~<page>.tmp" while it is written,
// "~<page>.old" for its spare or for where the rebuild sets it aside.
inline constexpr std::string_view kPrivatePrefix = "~";
inline constexpr std::string_view kTemporarySuffix = ".tmp";
inline constexpr std::string_view kAsideSuffix = ".old";
inline std::string aside_name(std::string_view page) {
  return std::string(kPrivatePrefix) + std::string(page) + std::string(kAsideSuffix);
}
inline std::string temporary_path(std::string_view page_path) {
  return private_folder_of(page_path) + std::string(kPrivatePrefix) + page_name_of_path(page_path) +
         std::string(kTemporarySuffix);
}
inline std::string aside_path(std::string_view page_path) {
  return private_folder_of(page_path) + aside_name(page_name_of_path(page_path));
}

inline bool write_page(std::string_view path, std::string_view bytes) {
  return platform::write_file_fast_via(path, temporary_path(path), bytes);
}

// write_page for a page rewritten again and again (a link page): its old
// file is kept as the spare for the next write (see write_file_reusing).
inline bool write_page_reusing(std::string_view path, std::string_view bytes) {
  return platform::write_file_reusing(path, aside_path(path), bytes);
}

// Removes what a writer stopped half-way (a killed process) can have left of
// the pages of the list folder `list_folder` ("LKset\<name>", no trailing
// backslash): private files in its web folder (from writers that kept them
// there) and temporary files of pages in the list folder. Spares stay. Call
// with the site lock held, so that no writer is at work.
void sweep_page_leftovers(std::string_view list_folder);

// True when the file name `name` matches "*.htm" (a page, as the folder
// search tells it: the extension in any case).
bool is_page_name(const std::string& name);

// Removes the private files among `names` (a listing of the web folder
// `web_folder`, no trailing backslash): none belongs in a web folder.
void sweep_web_leftovers(std::string_view web_folder, const std::vector<std::string>& names);

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
