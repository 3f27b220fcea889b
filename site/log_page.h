// Log pages: the page that shows one stored message. Plain text goes inside a
// <pre> block of a fixed template, with "http://" and "ftp://" addresses and
// e-mail addresses made into links; a body that is an HTML document itself is
// written through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace larkspur {

inline constexpr std::string_view kLogPageHead =
    "<HTML><HEAD><TITLE></TITLE></HEAD><body BGCOLOR=#FAFEA3><P><BR><pre>\n";
inline constexpr std::string_view kLogPageTail = "</pre></body></HTML>\n";

// True when one of the runs "<html>" or "<HTML>" (any arrangement of six
// bytes from one of those sets) lies within the first 18 bytes of `body`.
bool is_html_document(std::string_view body);

// The complete page bytes for `body`. The body is taken up to its first NUL
// byte, as stored texts are NUL-free in practice and the page never shows
// anything past one. Any length is handled; nothing is cut.
std::string convert_log_body(std::string_view body);

// Writes convert_log_body(body) as the whole content of `page_path` (created
// or replaced). False when the page could not be written (it is then left as
// it was).
bool write_log_page(std::string_view body_text, std::string_view page_path);

}  // namespace larkspur
