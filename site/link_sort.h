// Link page ordering: the link lines of every list's menu.htm in descending
// order of their link text, closed by the standard closing text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/outcome.h"

namespace larkspur {

inline constexpr std::string_view kLinkPageClosing = "</CENTER></BODY></HTML>\n";

// The sort key of one link line: the bytes after the first run of six bytes
// from "aimn=>" up to the next '<'; empty without such a run or such a '<'.
std::string_view link_sort_key(std::string_view line);

// Key order: byte by byte as signed 8-bit values, a key's end counting as 0.
// Negative when a ranks below b, 0 when equal, positive when above.
int compare_link_keys(std::string_view a, std::string_view b);

// The sorted form of a link page: head line, link lines in descending stable
// key order, standard closing text. nullopt when the page is left as it is
// (empty, or no run of "<A HREF" bytes in it).
std::optional<std::string> sort_link_page(std::string_view page);

// Sorts the link page of every list (presentation order), rewriting those
// whose bytes change. Holds the site lock while it works. Any thread.
// Failed, with the first reason, when a page that needed rewriting could not
// be written (it is left as it was); done otherwise.
Outcome sort_link_pages();

// The same for a caller that holds the site lock.
Outcome sort_link_pages_locked();

}  // namespace larkspur
