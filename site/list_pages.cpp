#include "site/list_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "platform/platform.h"
#include "settings/records.h"
#include "settings/store.h"
#include "site/page_io.h"
#include "site/log_page.h"
#include "site/site_lock.h"

namespace larkspur {
namespace {


std::string without_lf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\n') out += c;
  }
  return out;
}

}  // namespace

void find_linked_pages(std::string_view page, std::unordered_map<std::string_view, bool>& linked) {
  constexpr std::string_view kStart = "<A HREF=";
  constexpr std::string_view kTarget = " target=main>";
  for (std::size_t pos = 0; pos < page.size();) {
    std::size_t end = page.find('\n', pos);
    if (end == std::string_view::npos) end = page.size();
    const std::string_view line = page.substr(pos, end - pos);
    if (line.starts_with(kStart)) {
      const std::size_t target = line.find(kTarget, kStart.size());
      if (target != std::string_view::npos) {
        const auto found = linked.find(line.substr(kStart.size(), target - kStart.size()));
        if (found != linked.end()) found->second = true;
      }
    }
    pos = end + 1;
  }
}

std::string down_page() {
  std::string page = "<HTML><HEAD>\n<META HTTP-EQUIV=Refresh CONTENT=";
  page += '"';
  page += "0; URL=";
  page += kAdvertisementAddress;
  page += '"';
  page += ">\n<TITLE></TITLE></HEAD><BODY BGCOLOR=#ffffff>\n";
  page += platform::jp("オンラインで移動しない場合は<A HREF=");
  page += kAdvertisementAddress;
  page += platform::jp(">こちら</A>");
  page += "</BODY></HTML>";
  return page;
}

bool is_extended_log(std::string_view log) {
  const std::size_t lf = log.find('\n');
  if (lf == std::string_view::npos) return false;
  const std::string_view after = log.substr(lf);
  return after.starts_with("\n\n\n") && after.substr(3).starts_with(kExtendedLogMark);
}

namespace {

// A subject as link text: it may not open markup. A numeric reference stands
// for a character without a Shift_JIS form and is kept.
std::string escaped_link_text(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '&': {
        std::size_t end = i + 1;
        const bool numeric = end < text.size() && text[end] == '#';
        if (numeric) ++end;
        const bool hex = numeric && end < text.size() && (text[end] == 'x' || text[end] == 'X');
        if (hex) ++end;
        const std::size_t digits = end;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])) &&
               (hex || std::isdigit(static_cast<unsigned char>(text[end])))) {
          ++end;
        }
        out += numeric && end > digits && end < text.size() && text[end] == ';' ? "&" : "&amp;";
        break;
      }
      default: out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string link_text_from_log(std::string_view log) {
  // Read like a line reader with a 512-byte buffer: up to 511 bytes, ending
  // with the first LF; then the last byte read (the LF of a line that fits)
  // is dropped.
  std::size_t read = std::min(log.size(), kLinkTextReadBytes);
  const std::size_t lf = log.substr(0, read).find('\n');
  if (lf != std::string_view::npos) read = lf + 1;
  std::string_view line = log.substr(0, read);
  if (!line.empty()) line.remove_suffix(1);
  line = line.substr(0, line.find('\0'));
  if (is_extended_log(log)) return escaped_link_text(without_lf(line));
  return without_lf(line);
}

std::string_view log_body_text(std::string_view log) {
  log = log.substr(0, log.find('\0'));
  if (is_extended_log(log)) {
    // Its header block has no empty line (each field is one line), so the
    // first one after the mark ends it.
    const std::size_t end = log.find("\n\n", log.find('\n') + 3);
    return end == std::string_view::npos ? log.substr(log.size()) : log.substr(end + 2);
  }
  for (std::size_t p = kBodySearchStart + 1; p < log.size(); ++p) {
    if (log[p] == '\n' && log[p - 1] == '\n' && log[p - 2] != '\n') return log.substr(p + 1);
  }
  return log;
}

std::string link_line(std::string_view page_name, std::string_view link_text) {
  std::string line = "<A HREF=";
  line += page_name;
  line += " target=main>";
  line += without_lf(link_text);
  line += "</A><P>\n";
  return line;
}

std::size_t link_page_limit() {
  const std::optional<AccountRecord> account = read_first_account();
  if (account && (account->options & kAccountOptionExtendedMail) != 0) return SIZE_MAX;
  return kMaxLinkPageBytes;
}

LinkPageInserter::LinkPageInserter(std::string page, std::size_t max_bytes)
    : original_(std::move(page)), max_bytes_(max_bytes) {}

std::size_t LinkPageInserter::size() const {
  if (!split_) return original_.size();
  return head_.size() + lines_bytes_ + rest_.size();
}

bool LinkPageInserter::insert(std::string_view page_name, std::string_view link_text) {
  std::string line = link_line(page_name, link_text);
  if (split_) {
    if (size() + line.size() >= max_bytes_) return false;
    lines_bytes_ += line.size();
    lines_.push_back(std::move(line));
    return true;
  }
  if (original_.empty()) {
    // With no page at all, the first link line becomes the head line.
    if (line.size() >= max_bytes_) return false;
    head_ = std::move(line);
    split_ = true;
    return true;
  }
  // Head: the first line with its LF (a page without LF is all first line and
  // gains one); rest: what follows that LF.
  const std::size_t lf = original_.find('\n');
  const std::size_t head_size = lf == std::string::npos ? original_.size() + 1 : lf + 1;
  const std::size_t rest_size = lf == std::string::npos ? 0 : original_.size() - lf - 1;
  if (head_size + line.size() + rest_size >= max_bytes_) return false;
  if (lf == std::string::npos) {
    head_ = original_ + '\n';
  } else {
    head_ = original_.substr(0, lf + 1);
    rest_ = original_.substr(lf + 1);
  }
  split_ = true;
  lines_bytes_ = line.size();
  lines_.push_back(std::move(line));
  return true;
}

std::string LinkPageInserter::bytes() const {
  if (!split_) return original_;
  std::string page;
  page.reserve(size());
  page += head_;
  // Each insertion goes directly below the head line, so the newest is first.
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) page += *it;
  page += rest_;
  return page;
}

Message size_refusal_message() {
  return Message{platform::jp("お知らせ"), platform::jp("超過サイズです。処理できませんでした。"),
                 MessageIcon::kInformation};
}

std::string page_name_of_log(std::string_view log_name) {
  return std::string(log_name.substr(0, log_name.size() - kLogExtension.size())) + std::string(kPageExtension);
}

bool down_page_is_current(std::string_view web_folder) {
  const std::string down = down_page();
  return platform::read_file(std::string(web_folder) + "\\down.htm", down.size() + 1) == down;
}

Outcome write_owed_pages(const std::string& menu_path, std::string menu, bool menu_owed,
                         std::vector<OwedLog>& logs, const PageWriting& writing,
                         std::vector<Message>& messages) {
  Outcome outcome;
  // All link lines go into the link page in memory, which is written once,
  // before the log pages: should the work stop half-way, a log keeps its link
  // line and gets its page on the next update rather than losing its link.
  // A log that has its link line already (its page went missing after it was
  // linked) gets its page but no second line.
  // Only the owed logs' names are looked for: a link page holds a line for
  // each of thousands of logs, and an update owes one or two of them.
  std::unordered_map<std::string_view, bool> linked;
  for (const OwedLog& log : logs) linked.emplace(log.page_name, false);
  find_linked_pages(menu, linked);
  LinkPageInserter inserter(std::move(menu), writing.link_limit);
  // A single log owed its page is read whole once, and so are the logs that
  // fit in the cache; any other is read twice, its head now and the whole log
  // for its page, so that memory holds one log at a time however many there
  // are.
  const bool one = logs.size() == 1 && !logs.front().has_page;
  const bool whole = one || writing.log_cache_bytes > 0;
  std::vector<std::optional<std::string>> kept(logs.size());
  std::size_t cached = 0;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const OwedLog& log = logs[i];
    const bool has_link = linked.at(log.page_name);
    if (has_link && !one) continue;
    std::string text = platform::read_file(log.log_path, whole ? SIZE_MAX : kLogHeadReadBytes).value_or(std::string());
    if (!has_link &&
        !inserter.insert(log.page_name, link_text_from_log(std::string_view(text).substr(0, kLogHeadReadBytes)))) {
      messages.push_back(size_refusal_message());
      outcome.fail(site_detail::too_large_reason(menu_path));
    }
    if (one || (whole && !log.has_page && cached + text.size() <= writing.log_cache_bytes)) {
      cached += text.size();
      kept[i] = std::move(text);
    }
  }
  if ((inserter.changed() || menu_owed) && !writing.write_link_page(menu_path, inserter.bytes())) {
    outcome.fail(site_detail::not_written_reason(menu_path));
  }
  for (std::size_t i = 0; i < logs.size(); ++i) {
    OwedLog& log = logs[i];
    if (log.has_page) continue;
    if (!kept[i]) kept[i] = platform::read_file(log.log_path).value_or(std::string());
    const std::string page = convert_log_body(log_body_text(*kept[i]));
    kept[i].reset();
    log.written = writing.write_log_page ? writing.write_log_page(log.page_path, page)
                                         : site_detail::write_page(log.page_path, page);
    if (!log.written) outcome.fail(site_detail::not_written_reason(log.page_path));
  }
  return outcome;
}

Outcome update_list_pages_locked(std::string_view list_folder, std::vector<Message>& messages,
                                 Seeding seeding, ListSeen* seen, Linking linking,
                                 const PageWriting* writing) {
  Outcome outcome;
  const auto write_owed = [&outcome](const std::string& path, std::string_view bytes) {
    if (!site_detail::write_page(path, bytes)) outcome.fail(site_detail::not_written_reason(path));
  };
  const std::string folder(list_folder);
  const std::string web = folder + "\\web";
  platform::create_folder(web);
  // One listing gives the pages and the files a writer stopped half-way left
  // in the folder; those go before anything else is written (no writer is at
  // work while the site lock is held).
  const std::vector<std::string> entries = platform::find_files(web + "\\*");
  site_detail::sweep_web_leftovers(web, entries);
  std::vector<std::string> pages;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(pages), site_detail::is_page_name);
  // A link page gone from a folder that holds pages (deleted, or a writer
  // stopped between the seed pages and the link page) is made again whole,
  // as the rebuild makes it: the seed's link page with a link line for every
  // log, not only for those that get their page now. (After a rebuild's
  // deletion pass its absence is no loss: the rebuild makes it.)
  const std::string menu_path = web + "\\menu.htm";
  const bool menu_lost = seeding == Seeding::kWhenEmpty && !pages.empty() && std::find(pages.begin(), pages.end(), "menu.htm") == pages.end() &&
                         !platform::can_read_file(menu_path);
  if (menu_lost) linking = Linking::kEveryLog;
  // After a rebuild's deletion pass every seed page the folder lacks is
  // copied, so a page that could not be deleted does not keep the list from
  // its index.htm and its link page's head line. Otherwise only a folder
  // without any page is seeded.
  if (seeding == Seeding::kMissingPages || pages.empty()) {
    const std::unordered_set<std::string> present(pages.begin(), pages.end());
    bool copied = false;
    for (const std::string& seed : platform::find_files(kSeedPattern)) {
      const std::string target = web + "\\" + seed;
      if (present.contains(seed) || (!present.empty() && platform::can_read_file(target))) continue;
      const std::optional<std::string> bytes = platform::read_file(std::string(kSeedFolder) + seed);
      if (!bytes) continue;  // a seed page that cannot be read is not ours to report
      write_owed(target, *bytes);
      copied = true;
    }
    if (copied) pages = platform::find_files(web + "\\*.htm");
  }
  // down.htm is written on every call; when it already holds exactly these
  // bytes, leaving it as it is gives the same file without a write.
  if (!down_page_is_current(web)) write_owed(web + "\\down.htm", down_page());

  // Every log without a page. Two logs can share a page name only where the
  // file system tells "x.log" from "x.LOG"; the first one found takes it.
  // A page found in the folder listing counts as there without opening it
  // (one listing instead of one open per log); any other name is tried by
  // opening, which also finds a page whose name differs only in case where
  // the file system ignores case.
  std::vector<OwedLog> pending;
  std::unordered_set<std::string> taken;
  for (std::string& page : pages) taken.insert(std::move(page));
  bool complete = true;
  const auto report_seen = [&] {
    if (seen == nullptr) return;
    seen->complete = complete;
  };
  // A list holds thousands of logs and owes pages to a few: the loop makes
  // no string of its own for a log that has its page.
  std::vector<std::string> logs = platform::find_files(folder + "\\*.log");
  std::unordered_set<std::string_view> claimed;  // names less ".log" of the logs looked at so far
  claimed.reserve(logs.size());
  std::string page_name;
  for (const std::string& name : logs) {
    if (name.size() < kLogExtension.size()) continue;
    const std::string_view stem = std::string_view(name).substr(0, name.size() - kLogExtension.size());
    if (!claimed.insert(stem).second) continue;
    page_name.assign(stem);
    page_name += kPageExtension;
    const bool listed = taken.contains(page_name);
    if (listed && linking == Linking::kLogsWithoutPage) continue;
    std::string page_path = web + "\\" + page_name;
    const bool has_page = listed || platform::can_read_file(page_path);
    if (has_page && linking == Linking::kLogsWithoutPage) continue;
    if (!has_page) taken.insert(page_name);
    pending.push_back({folder + "\\" + name, page_name, std::move(page_path), has_page, false});
  }
  claimed.clear();
  if (seen != nullptr) {
    for (std::string& name : logs) seen->logs.insert(std::move(name));
  }
  if (pending.empty() && !menu_lost) {
    report_seen();
    return outcome;
  }

  std::string menu_bytes = platform::read_file(menu_path).value_or(std::string());
  if (menu_lost && menu_bytes.empty()) {
    menu_bytes = platform::read_file(std::string(kSeedFolder) + "menu.htm").value_or(std::string());
  }
  const bool seed_menu_owed = menu_lost && !menu_bytes.empty();
  PageWriting plain;
  if (writing == nullptr) {
    plain.link_limit = link_page_limit();
    plain.write_link_page = [](const std::string& path, std::string bytes) {
      return site_detail::write_page(path, bytes);
    };
    writing = &plain;
  }
  const Outcome owed = write_owed_pages(menu_path, std::move(menu_bytes), seed_menu_owed, pending, *writing, messages);
  if (!owed.ok()) outcome.fail(owed.reason);
  for (const OwedLog& log : pending) {
    if (log.has_page || log.written) continue;
    taken.erase(log.page_name);
    complete = false;
  }
  report_seen();
  return outcome;
}

Outcome update_list_pages(std::string_view list_folder, UserInterface& ui) {
  std::vector<Message> messages;
  Outcome outcome;
  {
    SiteLock lock;
    outcome = update_list_pages_locked(list_folder, messages);
  }
  for (const Message& message : messages) ui.notify(message);
  return outcome;
}

}  // namespace larkspur

namespace larkspur::site_detail {
namespace {

bool ends_with_nocase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

bool is_private_name(std::string_view name) {
  return name.starts_with(kPrivatePrefix) &&
         (ends_with_nocase(name, kTemporarySuffix) || ends_with_nocase(name, kAsideSuffix));
}

}  // namespace

bool is_page_name(const std::string& name) { return ends_with_nocase(name, kPageExtension); }

void sweep_web_leftovers(std::string_view web_folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (is_private_name(name)) platform::delete_file(std::string(web_folder) + "\\" + name);
  }
}

void sweep_page_leftovers(std::string_view list_folder) {
  const std::string folder(list_folder);
  sweep_web_leftovers(folder + "\\web", platform::find_files(folder + "\\web\\" + std::string(kPrivatePrefix) + "*"));
  // In the list folder only the temporary files of pages ("~<page>.tmp") and
  // of their spares ("~~<page>.old.tmp"): the job's own files there (logs,
  // stored ids) have writers of their own that do not take the site lock.
  for (const std::string& name : platform::find_files(folder + "\\~*" + std::string(kTemporarySuffix))) {
    const std::string_view stem = std::string_view(name).substr(0, name.size() - kTemporarySuffix.size());
    if (ends_with_nocase(stem, kPageExtension) ||
        (stem.starts_with("~~") && ends_with_nocase(stem, std::string(kPageExtension) + std::string(kAsideSuffix)))) {
      platform::delete_file(folder + "\\" + name);
    }
  }
}

}  // namespace larkspur::site_detail
