// Hostile message shapes, generated at run time to any size, for the
// decoders' scaling checks (the unit test and the benchmark share them): each
// message is a head, one unit repeated until the size is reached, and a tail.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace larkspur::testing {

struct HostileShape {
  std::string_view name;
  std::string_view head;
  std::string_view unit;
  std::string_view tail;
};

inline constexpr std::string_view kHtmlHead = "Content-Type: text/html\n\n";
inline constexpr std::string_view kMixedHead = "Content-Type: multipart/mixed; boundary=b\n\n";

inline constexpr HostileShape kHostileShapes[] = {
    {"subject_unclosed_words", "Subject: [A] x ", "=?x?B?AAAA", "\n\nbody\n"},
    {"header_unclosed_words", "Subject: a\nX-Note: ", "=?x?B?AAAA", "\n\nbody\n"},
    {"subject_encoded_words", "Subject: ", "=?utf-8?B?44GC?= x ", "\n\nbody\n"},
    {"subject_joined_words", "Subject: ", "=?iso-2022-jp?B?GyRCJCIbKEI=?= ", "\n\nbody\n"},
    {"subject_references", "Subject: ", "&#x", "\n\nbody\n"},
    {"classic_unclosed_words", "Subject: ", "=?ISO-2022-JP?B?GyRCJCI", "\n\nbody\n"},
    {"jis_runs", "Subject: ", "\x1B$BJ8\x1B(B\x1B$B", "\n\n\x1B$BJ8\n"},
    {"many_headers", "", "X-H: =?utf-8?Q?a?=\n", "\nbody\n"},
    {"folded_header", "Subject: a\n", " =?utf-8?Q?b?=\n", "\nbody\n"},
    {"long_line", "\n", "abcdefghij", "\n"},
    {"mail_words", "\n", "a@b.c.d http://x.jp/ ", "\n"},
    {"html_styles", kHtmlHead, "<style>x</style>", ""},
    {"html_scripts", kHtmlHead, "<script>x</script>", ""},
    {"html_dropped_elements", kHtmlHead, "<svg>x</svg><object>y</object>", ""},
    {"html_comments", kHtmlHead, "<!--x--><!x><?x>", ""},
    {"html_tags", kHtmlHead, "<a href=\"http://x/\" title=y style=\"color:red\">x</a>", ""},
    {"html_attributes", "Content-Type: text/html\n\n<p", " a=1 href=&#106;", ">"},
    {"css_urls", "Content-Type: text/html\n\n<style>", "url(", ")</style>"},
    {"css_attribute_urls", "Content-Type: text/html\n\n<p style=\"", "url( /**/", ")\">"},
    {"many_parts", kMixedHead, "--b\nContent-Type: text/plain\n\nx\n", "--b--\n"},
    {"many_attachments", kMixedHead, "--b\nContent-Type: application/x; name=a.bin\n\nx\n", "--b--\n"},
    {"many_alternatives", "Content-Type: multipart/alternative; boundary=b\n\n",
     "--b\nContent-Type: text/html\n\n<p>x\n", "--b--\n"},
    {"near_delimiters", kMixedHead, "--bx\n--b x\n", "--b--\n"},
    {"huge_parameter", "Content-Type: text/plain; name=\"", "x", "\"\n\nbody\n"},
    {"many_parameters", "Content-Type: text/plain", "; a", "\n\nbody\n"},
    {"rfc2231_sections", "Content-Type: application/x; name*0*=utf-8''a", "; name*1*=%41", "\n\nbody\n"},
    {"nested_multiparts", "", "Content-Type: multipart/mixed; boundary=b\n\n--b\n", "x\n"},
    {"nested_messages", "", "Content-Type: message/rfc822\n\n", "x\n"},
    {"base64_body", "Content-Transfer-Encoding: base64\n\n", "QUJDREVG\n", ""},
    {"quoted_printable_body", "Content-Transfer-Encoding: quoted-printable\n\n", "=41=  \n= x", ""},
};

// The message of `shape` with as many units as make it at least `bytes` long.
inline std::string hostile_message(const HostileShape& shape, std::size_t bytes) {
  std::string message;
  message.reserve(bytes + shape.head.size() + shape.unit.size() + shape.tail.size());
  message += shape.head;
  while (message.size() < bytes) message += shape.unit;
  message += shape.tail;
  return message;
}

}  // namespace larkspur::testing
