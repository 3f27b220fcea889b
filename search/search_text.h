// What the full-text search searches in a log: its subject and its body as
// the log's page shows it, as UTF-16 (the unit the search page's JavaScript
// counts in).
#pragma once

#include <string>
#include <string_view>

namespace larkspur {

// The subject of a log (its first line) as the reader sees it: for a log
// stored under extended mail handling the numeric references it holds for
// characters without a Shift_JIS form are resolved.
std::u16string search_subject(std::string_view log);

// The body of a log as its page shows it: for a classic log the stored text
// after the header block; for an extended log the decoded text of its page,
// without markup, attribute values or the contents of style and script
// elements, with its character references resolved.
std::u16string search_body(std::string_view log);

// The subject, one LF, the body: the text a word must occur in.
std::u16string search_text(std::string_view log);

// The visible text of an HTML page (UTF-16): tags dropped (block-level ones
// leave a line break), references resolved.
std::u16string visible_html_text(std::u16string_view html);

// A log's date from its name ("YYYYMMDDhhmmss_N.log" or without extension):
// "YYYY/MM/DD hh:mm:ss"; the name up to its "_" when it has no such form.
std::string date_of_log_name(std::string_view name);

}  // namespace larkspur
