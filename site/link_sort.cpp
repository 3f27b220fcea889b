#include "site/link_sort.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "platform/platform.h"
#include "site/page_io.h"
#include "settings/store.h"
#include "site/site_lock.h"

namespace larkspur {
namespace {

// A link line's key follows the first run of this many bytes of "aimn=>"
// (the "=main>" of " target=main>").
constexpr int kKeyMarkerRun = 6;
// A page holds links when seven bytes in a row are from "<A HREF".
constexpr int kLinkMarkerRun = 7;
// The closing text begins where four bytes of "</CE" start a run.
constexpr int kClosingRun = 4;

// Membership of a byte in one of the small sets above, by table.
class ByteSet {
 public:
  constexpr explicit ByteSet(std::string_view members) {
    for (char c : members) table_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool operator()(char c) const { return table_[static_cast<unsigned char>(c)]; }

 private:
  bool table_[256] = {};
};

constexpr ByteSet kKeyMarkerSet("aimn=>");
constexpr ByteSet kLinkMarkerSet("<A HREF");
constexpr ByteSet kClosingSet("</CE");

bool has_run(std::string_view text, const ByteSet& set, int length) {
  int run = 0;
  for (char c : text) {
    run = set(c) ? run + 1 : 0;
    if (run >= length) return true;
  }
  return false;
}

// A whole link line as the link page writes it (link_line): the closing
// text never starts inside one, whatever letters its link text holds.
bool is_link_line(std::string_view line) {
  return line.starts_with("<A HREF") && line.ends_with("</A><P>");
}

// Where the closing text starts: the first position from `from` on where
// four bytes of "</CE" follow a byte that is none of them, outside every link
// line. `from` > 0 and starts a line. Outside link lines, a run that ends in
// the "</" of a "</A>" (a text ending in "CE" or "EE" just before it) closes
// an anchor, not the page, and is passed over as well.
std::size_t find_closing(std::string_view page, std::size_t from) {
  constexpr std::string_view kAnchorEnd = "</A>";
  for (std::size_t start = from; start < page.size();) {
    const std::size_t lf = page.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? page.size() : lf;
    if (!is_link_line(page.substr(start, end - start))) {
      for (std::size_t i = start; i + kClosingRun <= end; ++i) {
        if (!kClosingSet(page[i]) || kClosingSet(page[i - 1])) continue;
        bool run = true;
        for (std::size_t k = 1; k < kClosingRun && run; ++k) run = kClosingSet(page[i + k]);
        if (run && page.substr(i + kClosingRun - 2, kAnchorEnd.size()) != kAnchorEnd) return i;
      }
    }
    start = end + 1;
  }
  return page.size();
}

}  // namespace

std::string_view link_sort_key(std::string_view line) {
  line = line.substr(0, line.find('\n'));
  // The first window of kKeyMarkerRun bytes that are all in the set, each
  // window tested from its last byte back: a byte outside the set rules out
  // every window that holds it, so the next one to test starts just after it.
  // (Every line of a link page is scanned on each sort: this is its hot loop.)
  std::size_t start = 0;
  while (start + kKeyMarkerRun <= line.size()) {
    std::size_t members = kKeyMarkerRun;
    while (members > 0 && kKeyMarkerSet(line[start + members - 1])) --members;
    if (members > 0) {
      start += members;
      continue;
    }
    const std::size_t key = start + kKeyMarkerRun;
    for (std::size_t end = key; end < line.size(); ++end) {
      if (line[end] == '<') return line.substr(key, end - key);
    }
    return {};
  }
  return {};
}

int compare_link_keys(std::string_view a, std::string_view b) {
  // Equal bytes compare equal whatever their sign, so the first difference is
  // found as fast as memcmp; only that byte is compared as a signed value.
  const std::size_t common = std::min(a.size(), b.size());
  const std::size_t diff =
      static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin());
  // Like a NUL-terminated comparison, a NUL ends both keys where they agree.
  if (a.substr(0, diff).find('\0') != std::string_view::npos) return 0;
  const int x = diff < a.size() ? static_cast<signed char>(a[diff]) : 0;
  const int y = diff < b.size() ? static_cast<signed char>(b[diff]) : 0;
  return x == y ? 0 : (x < y ? -1 : 1);
}

std::optional<std::string> sort_link_page(std::string_view page) {
  if (page.empty() || !has_run(page, kLinkMarkerSet, kLinkMarkerRun)) return std::nullopt;

  const std::size_t lf = page.find('\n');
  const std::size_t head_end = lf == std::string_view::npos ? page.size() : lf + 1;
  const std::size_t closing = head_end < page.size() ? find_closing(page, head_end) : page.size();

  // The link lines, each with its LF. A last line without one (the closing
  // text began in the middle of it) gets one, so that no two link lines ever
  // run together after sorting.
  std::vector<std::string_view> lines;
  for (std::size_t pos = head_end; pos < closing;) {
    const std::size_t end = page.find('\n', pos);
    const std::size_t next = end == std::string_view::npos || end >= closing ? closing : end + 1;
    lines.push_back(page.substr(pos, next - pos));
    pos = next;
  }
  std::vector<std::string_view> keys;
  keys.reserve(lines.size());
  for (std::string_view line : lines) keys.push_back(link_sort_key(line));

  std::vector<std::size_t> order(lines.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // A page is sorted but for the lines put in since its last sort, which
  // stand before the rest: only the part before its longest sorted tail is
  // sorted, then merged with the tail. Both keep equal keys in page order,
  // so the result is the whole page's stable sort.
  const auto after = [&](std::size_t a, std::size_t b) { return compare_link_keys(keys[a], keys[b]) > 0; };
  std::size_t tail = order.size();
  while (tail > 1 && !after(tail - 1, tail - 2)) --tail;
  if (tail > 1) {
    const auto tail_start = order.begin() + static_cast<std::ptrdiff_t>(tail - 1);
    std::stable_sort(order.begin(), tail_start, after);
    std::inplace_merge(order.begin(), tail_start, order.end(), after);
  }

  std::string sorted;
  sorted.reserve(page.size() + kLinkPageClosing.size() + 1);
  sorted += page.substr(0, head_end);
  for (std::size_t index : order) {
    sorted += lines[index];
    if (!lines[index].ends_with('\n')) sorted += '\n';
  }
  sorted += kLinkPageClosing;
  return sorted;
}

Outcome sort_link_pages_locked() {
  Outcome outcome;
  for (const std::string& name : enumerate_lists()) {
    const std::string path = list_web_folder(name) + "\\menu.htm";
    const std::optional<std::string> page = platform::read_file(path);
    if (!page) continue;
    const std::optional<std::string> sorted = sort_link_page(*page);
    // A page already in order is left alone: its bytes would not change.
    if (sorted && *sorted != *page && !site_detail::write_page(path, *sorted)) {
      outcome.fail(site_detail::not_written_reason(path));
    }
  }
  return outcome;
}

Outcome sort_link_pages() {
  SiteLock lock;
  return sort_link_pages_locked();
}

}  // namespace larkspur
