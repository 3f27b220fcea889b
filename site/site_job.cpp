#include "site/site_job.h"

#include <algorithm>

#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/page_io.h"
#include "site/site_lock.h"

namespace larkspur {
namespace {

constexpr std::string_view kMenuName = "menu.htm";

// Logs kept whole from their link line to their page within one update of a
// list, so that each is read once: a batch of a receive, or the logs an
// import gathers for a list between two writes of its link page (a few
// hundred of about 8 KB), fits.
constexpr std::size_t kLogCacheBytes = std::size_t{8} << 20;

std::string base_name(std::string_view path) {
  const std::size_t last = path.rfind('\\');
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string mark_path(std::string_view list_name) {
  return list_folder(list_name) + "\\" + std::string(kPagesPendingMark);
}

}  // namespace

Outcome finish_stopped_site_work(const std::vector<std::string>& list_names, UserInterface& ui) {
  std::vector<std::string> marked;
  for (const std::string& name : list_names) {
    if (platform::can_read_file(mark_path(name))) marked.push_back(name);
  }
  if (marked.empty()) return Outcome{};
  std::vector<Message> messages;
  Outcome outcome;
  {
    SiteLock lock;
    for (const std::string& name : marked) {
      const std::string folder = list_folder(name);
      site_detail::sweep_page_leftovers(folder);
      // The stopped job wrote each log's link line before its page, so a log
      // with a page has its line; every log is looked at all the same, so a
      // line lost in any other way comes back too.
      const Outcome updated =
          update_list_pages_locked(folder, messages, Seeding::kWhenEmpty, nullptr, Linking::kEveryLog);
      if (!updated.ok()) outcome.fail(updated.reason);
      // A failure is reported now; it is no reason to take the list up again
      // at every later job.
      platform::delete_file(mark_path(name));
    }
    const Outcome sorted = sort_link_pages_locked();
    if (!sorted.ok()) outcome.fail(sorted.reason);
  }
  for (const Message& message : messages) ui.notify(message);
  return outcome;
}

SiteJob::~SiteJob() {
  for (const std::string& spare : spares_) platform::delete_file(spare);
  for (const std::string& name : marked_) platform::delete_file(mark_path(name));
}

bool SiteJob::write_link_page(const std::string& menu_path, std::string_view bytes) {
  spares_.insert(site_detail::aside_path(menu_path));
  return site_detail::write_page_reusing(menu_path, bytes);
}

void SiteJob::log_coming(std::string_view list_name) {
  std::string name(list_name);
  if (marked_.contains(name)) return;
  // Without its mark the log would still be stored; only a stop in the
  // middle of its site work would then wait for the list's next log. The
  // mark is empty, so it is made in place: there is nothing to tear.
  platform::append_to_file(mark_path(name), "");
  marked_.insert(std::move(name));
}

Outcome SiteJob::log_stored(std::string_view list_name, std::string_view log_path) {
  return logs_stored(list_name, {std::string(log_path)});
}

Outcome SiteJob::logs_stored(std::string_view list_name, const std::vector<std::string>& log_paths) {
  return logs_stored(LogsByList{{std::string(list_name), log_paths}});
}

Outcome SiteJob::logs_stored(const LogsByList& logs) {
  std::vector<Message> messages;
  Outcome outcome;
  {
    SiteLock lock;
    sort_lists_ = list_names_.names();
    for (const auto& [list_name, log_paths] : logs) {
      std::vector<std::string> log_names;
      for (const std::string& path : log_paths) log_names.push_back(base_name(path));
      const Outcome updated = update(list_name, log_names, messages);
      if (!updated.ok()) outcome.fail(updated.reason);
    }
    const Outcome sorted = sort_all();
    if (!sorted.ok()) outcome.fail(sorted.reason);
  }
  for (const Message& message : messages) ui_.notify(message);
  return outcome;
}

Outcome SiteJob::update(const std::string& list_name, const std::vector<std::string>& log_names,
                        std::vector<Message>& messages) {
  const std::string folder = list_folder(list_name);
  const std::string web = list_web_folder(list_name);
  Outcome outcome;
  auto known = lists_.find(list_name);
  if (known != lists_.end() && update_known(known->second, list_name, log_names, messages, outcome)) {
    return outcome;
  }
  // The whole update, after which the job knows the folder.
  lists_.erase(list_name);
  ListSeen seen;
  const PageWriting writing = page_writing(list_name);
  outcome = update_list_pages_locked(folder, messages, Seeding::kWhenEmpty, &seen, Linking::kLogsWithoutPage,
                                     &writing);
  const std::optional<platform::FileStamp> stamp = platform::file_stamp(web);
  // Known only when the next update would find nothing to do but new logs.
  if (seen.complete && stamp) {
    KnownList known{*stamp, {}};
    known.logs.reserve(seen.logs.size());
    for (const std::string& log : seen.logs) known.logs.insert(log_digest(log));
    lists_.emplace(list_name, std::move(known));
  }
  return outcome;
}

// The update of a list whose web folder is as this job left it: every log it
// knew has its page, so only the new logs can need one. False (nothing done)
// when the folder changed meanwhile or the case is not that simple.
bool SiteJob::update_known(KnownList& known, const std::string& list_name,
                           const std::vector<std::string>& log_names, std::vector<Message>& messages,
                           Outcome& outcome) {
  const std::string web = list_web_folder(list_name);
  const std::optional<platform::FileStamp> stamp = platform::file_stamp(web);
  if (!stamp || *stamp != known.web) return false;
  // Two logs of one page name: which one takes it is the whole update's call.
  std::unordered_set<std::string> claimed;
  for (const std::string& log_name : log_names) {
    if (log_name.size() < kLogExtension.size() || known.logs.contains(log_digest(log_name)) ||
        !claimed.insert(page_name_of_log(log_name)).second) {
      return false;
    }
  }
  // down.htm may have been written into without a change of the folder.
  if (!down_page_is_current(web)) return false;

  // The logs that need a page (a log with its page there is only noted).
  std::vector<OwedLog> owed;
  for (const std::string& log_name : log_names) {
    known.logs.insert(log_digest(log_name));
    std::string page_name = page_name_of_log(log_name);
    std::string page_path = web + "\\" + page_name;
    if (platform::can_read_file(page_path)) continue;
    owed.push_back({list_folder(list_name) + "\\" + log_name, std::move(page_name), std::move(page_path), false, false});
  }
  if (owed.empty()) return true;

  // A link page gone is made again whole by the whole update.
  const std::string menu_path = web + "\\" + std::string(kMenuName);
  std::optional<std::string> menu = platform::read_file(menu_path);
  if (!menu) return false;
  outcome = write_owed_pages(menu_path, std::move(*menu), false, owed, page_writing(list_name), messages);
  const std::optional<platform::FileStamp> after = platform::file_stamp(web);
  if (!outcome.ok() || !after) {
    lists_.erase(list_name);  // the next log takes the whole update
  } else {
    known.web = *after;
  }
  return true;
}

// The link page of `list_name` is written in the order the sort that follows
// would give it, and through its spare.
PageWriting SiteJob::page_writing(const std::string& list_name) {
  const bool sorted_here = std::find(sort_lists_.begin(), sort_lists_.end(), list_name) != sort_lists_.end();
  PageWriting writing;
  writing.link_limit = link_limit_;
  writing.log_cache_bytes = kLogCacheBytes;
  writing.write_link_page = [this, sorted_here](const std::string& path, std::string bytes) {
    if (sorted_here) {
      if (std::optional<std::string> sorted = sort_link_page(bytes)) bytes = std::move(*sorted);
    }
    if (!write_link_page(path, bytes)) return false;
    if (sorted_here) remember_sorted(path);
    return true;
  };
  return writing;
}

void SiteJob::remember_sorted(const std::string& menu_path) {
  if (const std::optional<platform::FileStamp> stamp = platform::file_stamp(menu_path)) {
    sorted_[menu_path] = *stamp;
  } else {
    sorted_.erase(menu_path);
  }
}

// sort_link_pages, skipping each link page that is as this job last saw it
// in order.
Outcome SiteJob::sort_all() {
  Outcome outcome;
  for (const std::string& name : sort_lists_) {
    const std::string path = list_web_folder(name) + "\\" + std::string(kMenuName);
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(path);
    const auto known = sorted_.find(path);
    if (stamp && known != sorted_.end() && known->second == *stamp) continue;
    sorted_.erase(path);
    const std::optional<std::string> page = platform::read_file(path);
    if (!page) continue;
    const std::optional<std::string> sorted = sort_link_page(*page);
    if (sorted && *sorted != *page) {
      // Writing the link page changes the web folder's stamp. A folder the
      // job knows stays known across this write of its own, provided it was
      // as the job left it just before: the update of the list's next log
      // then needs no full look again.
      const std::string web = list_web_folder(name);
      const auto known = lists_.find(name);
      const bool as_left = known != lists_.end() && platform::file_stamp(web) == known->second.web;
      const bool written = write_link_page(path, *sorted);
      if (known != lists_.end()) {
        const std::optional<platform::FileStamp> after = platform::file_stamp(web);
        if (written && as_left && after) {
          known->second.web = *after;
        } else {
          lists_.erase(known);
        }
      }
      if (!written) {
        outcome.fail(site_detail::not_written_reason(path));
        continue;
      }
      remember_sorted(path);
    } else if (stamp) {
      sorted_[path] = *stamp;  // in order, or nothing to sort: left as it is
    }
  }
  return outcome;
}

}  // namespace larkspur
