// List pages: a list's web folder "LKset\<name>\web\" with the seed pages, the
// forwarding page down.htm, one page per log and the link page menu.htm.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

// The project page that down.htm forwards to.
inline constexpr std::string_view kAdvertisementAddress = "http://larkspur.example.jp/";

// A link page (menu.htm) of this many bytes or more is never written.
inline constexpr std::size_t kMaxLinkPageBytes = 260000;

// Bytes of the first line of a log read for its link text.
inline constexpr std::size_t kLinkTextReadBytes = 511;

// Bytes from the start of a log read for its link line: enough for the link
// text and for the mark that follows the (bounded) subject of a log stored
// under extended mail handling (kExtendedLogMark).
inline constexpr std::size_t kLogHeadReadBytes = 1024;

// Logs are shown from past their header block: the blank line that ends it
// is looked for from this position on.
inline constexpr std::size_t kBodySearchStart = 100;

inline constexpr std::string_view kLogExtension = ".log";
inline constexpr std::string_view kPageExtension = ".htm";
inline constexpr std::string_view kSeedFolder = "set\\";
inline constexpr std::string_view kSeedPattern = "set\\*.htm";

// The bytes of down.htm.
std::string down_page();

// True when `log` (the whole log or at least its first kLogHeadReadBytes)
// was stored under extended mail handling: its first line is followed by
// three LF and kExtendedLogMark.
bool is_extended_log(std::string_view log);

// The link text of a log from its first bytes: at most 511 bytes up to and
// including the first LF, less the last byte read, with every LF removed and
// cut at a NUL. For an extended log (given its first kLogHeadReadBytes),
// "<", ">", "&" and '"' are escaped as well (an "&" that begins a numeric
// reference stays), so no subject can put markup into the link page.
std::string link_text_from_log(std::string_view log);

// The part of a log its page shows: everything after the first LF that is the
// second of a pair of LF bytes at a position above 100 (the end of the
// message's header block); the whole log when there is none. For an
// extended log: everything after its header block's empty line, whatever
// the length of the subject.
std::string_view log_body_text(std::string_view log);

// The size a link page must stay below: kMaxLinkPageBytes, or no limit when
// the account has extended mail handling (kAccountOptionExtendedMail).
std::size_t link_page_limit();

// Sets the flag of each name in `linked` that a link line of the link page
// `page` points to: a line that begins "<A HREF=" + name + " target=main>",
// the head line included (without seed pages the first link line is the
// head line). Names not in `linked` are passed over.
void find_linked_pages(std::string_view page, std::unordered_map<std::string_view, bool>& linked);

// One link line: "<A HREF=" + page name + " target=main>" + text without LF +
// "</A><P>\n".
std::string link_line(std::string_view page_name, std::string_view link_text);

// An in-memory link page that takes new link lines directly below its head
// line, each insertion refused (page unchanged) when the result would reach
// `max_bytes`. Several insertions give the same bytes as rewriting the
// page once per insertion.
class LinkPageInserter {
 public:
  explicit LinkPageInserter(std::string page, std::size_t max_bytes = kMaxLinkPageBytes);
  // False (nothing changed) when the page would reach the limit.
  bool insert(std::string_view page_name, std::string_view link_text);
  bool changed() const { return split_; }
  std::size_t size() const;
  std::string bytes() const;

 private:
  std::string original_;
  std::string head_;  // first line with its LF, once the page is split
  std::string rest_;  // everything after the first LF
  std::vector<std::string> lines_;  // inserted lines, oldest first
  std::size_t lines_bytes_ = 0;
  bool split_ = false;
  std::size_t max_bytes_;
};

// "超過サイズです。処理できませんでした。" under "お知らせ", information icon.
Message size_refusal_message();

// Brings the web folder of the list folder `list_folder` ("LKset\" + name,
// no trailing backslash) up to date: creates it, seeds it from "set\*.htm"
// when it holds no page, rewrites down.htm, and gives every log without a page
// its link line in menu.htm (unless it has one already) and its page. Holds
// the site lock while it works and shows the size messages (one per refused
// link line) through `ui` afterwards. Call from any thread.
// Failed, with the first reason, when a seed copy, down.htm, menu.htm or a log
// page could not be written or a link line was refused for the size; done
// otherwise.
Outcome update_list_pages(std::string_view list_folder, UserInterface& ui);

// Which seed pages ("set\*.htm") an update copies into the web folder.
enum class Seeding {
  kWhenEmpty,     // all of them, only into a folder that holds no page yet
  kMissingPages,  // each one the folder lacks, whatever other pages it holds
                  // (after a rebuild's deletion pass, which may leave some)
};

// The same work for a caller that holds the site lock: the size messages are
// appended to `messages` instead of being shown.
// What an update found, for a caller that keeps track of the folders: every
// log name of the list, and whether every log has its page now.
struct ListSeen {
  std::unordered_set<std::string> logs;
  bool complete = false;
};

// Which logs an update gives a link line (each only when the link page has
// none for its page yet).
enum class Linking {
  kLogsWithoutPage,  // those that get their page now: a log whose page is
                      // there keeps the link page as it is (its line may have
                      // been refused for the size)
  kEveryLog,          // every log, also one whose page is there: after a
                      // writer was stopped between a page and its link line
};

// How an update bounds and writes a list's pages. By default (no PageWriting
// given) the link page limit is link_page_limit() and every page is written
// as by site_detail::write_page; the receive job keeps its link pages in
// order itself, and the rebuild reuses the files of the pages it replaces.
struct PageWriting {
  std::size_t link_limit = kMaxLinkPageBytes;
  // Writes `bytes` as the link page `path`; true when written.
  std::function<bool(const std::string& path, std::string bytes)> write_link_page;
  // Writes `bytes` as the log page `path`; true when written. Empty: as
  // site_detail::write_page.
  std::function<bool(const std::string& path, std::string_view bytes)> write_log_page;
  // Whole logs kept in memory from their link line to their page, up to this
  // many bytes in all; beyond it (and with 0) only a log's head is read for
  // its link line and the whole log again for its page.
  std::size_t log_cache_bytes = 0;
};

// With Seeding::kWhenEmpty, a link page missing from a folder that holds
// pages is made again from the seed's link page with every log's link line
// (as with Linking::kEveryLog).
Outcome update_list_pages_locked(std::string_view list_folder, std::vector<Message>& messages,
                                 Seeding seeding = Seeding::kWhenEmpty, ListSeen* seen = nullptr,
                                 Linking linking = Linking::kLogsWithoutPage,
                                 const PageWriting* writing = nullptr);

// The page name of the log `log_name` ("x.log" -> "x.htm"); `log_name` is at
// least as long as kLogExtension.
std::string page_name_of_log(std::string_view log_name);

// True when "<web folder>\down.htm" holds exactly down_page() (`web_folder`
// without trailing backslash), so it need not be written again.
bool down_page_is_current(std::string_view web_folder);

// A log an update owes its page, its link line, or both.
struct OwedLog {
  std::string log_path;
  std::string page_name;
  std::string page_path;
  bool has_page = false;  // its page is there: only a link line is owed
  bool written = false;   // set by write_owed_pages: its page was written
};

// The step every update of a list ends with, once it knows what it owes:
// each log of `logs` (in that order) whose page the link page `menu` does not
// link yet gets its link line below the head line, each refused when the page
// would reach writing.link_limit (then the size message goes to `messages`
// and the update fails); the link page is written to `menu_path` when a line
// went in or `menu_owed`; then every log without its page gets it. Failed,
// with the first reason, when a line was refused or a page could not be
// written. Takes no lock: callers hold the site lock.
Outcome write_owed_pages(const std::string& menu_path, std::string menu, bool menu_owed,
                         std::vector<OwedLog>& logs, const PageWriting& writing,
                         std::vector<Message>& messages);

}  // namespace larkspur
