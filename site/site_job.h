// The site work of one receive job. After each log it stores, the job calls
// log_stored, which leaves the same files as update_list_pages for the log's
// list followed by sort_link_pages, but does only what can have changed:
// it remembers, between logs, the state in which it left each web folder and
// each link page, and checks that state cheaply (file_stamp) instead of
// listing folders and reading every link page again.
//
// A job may be stopped (killed) between storing a log and writing its page
// and link line. So that the next job finishes that work, a list's folder
// holds a mark (kPagesPendingMark) from before the job's first log for that
// list until the job ends; finish_stopped_site_work takes up every list that
// still has one.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "settings/outcome.h"
#include "settings/store.h"
#include "settings/ui.h"
#include "site/list_pages.h"

namespace larkspur {

// The mark in a list folder ("LKset\<list>\~pages.pending") of a job that
// may have logs there whose page or link line it has not written yet.
inline constexpr std::string_view kPagesPendingMark = "~pages.pending";

// For every list of `list_names` whose folder holds the mark: removes what a
// stopped writer left of its pages, gives every log its page and every log
// without one its link line (a log never gets a second one), sorts the link
// pages, then removes the mark. Holds the site lock while it works and shows
// the size messages through `ui` afterwards. Failed, with the first reason,
// as update_list_pages; done when there was nothing to finish.
Outcome finish_stopped_site_work(const std::vector<std::string>& list_names, UserInterface& ui);

class SiteJob {
 public:
  // Messages (the size message) are shown through `ui`, never while the site
  // lock is held. The list names come from `list_names`, which the job's
  // other users share. One object per job, used from one thread.
  SiteJob(UserInterface& ui, ListNamesCache& list_names)
      : ui_(ui), link_limit_(link_page_limit()), list_names_(list_names) {}
  // Removes the marks of log_coming (the job is over, its pages are written
  // or the failure to write them was reported) and the spares of the link
  // pages it wrote, which serve only the writes of one job.
  ~SiteJob();
  SiteJob(const SiteJob&) = delete;
  SiteJob& operator=(const SiteJob&) = delete;

  // A log is about to be stored for `list_name`: its folder gets the mark
  // (once per job) before the log is there.
  void log_coming(std::string_view list_name);

  // The log `log_path` ("LKset\<list_name>\<file>.log") was just stored:
  // brings the list's pages up to date and every link page into order.
  // The outcome is that of update_list_pages and sort_link_pages together.
  Outcome log_stored(std::string_view list_name, std::string_view log_path);

  // Several logs just stored for `list_name` (an import's batch): the same
  // files as log_stored for each in turn, but the link page is read, sorted
  // and written once for all of them, so a batch costs the size of the link
  // page once, not once a log.
  Outcome logs_stored(std::string_view list_name, const std::vector<std::string>& log_paths);
  // The same for several lists at once, under one hold of the site lock and
  // with one sort of the link pages at the end (a receive's batch).
  using LogsByList = std::map<std::string, std::vector<std::string>>;
  Outcome logs_stored(const LogsByList& logs);

 private:
  // A web folder as this job left it, every log of the list with its page.
  // The logs are kept as digests of their names: a list of many thousand
  // logs would otherwise hold every name twice over for the whole job. Two
  // names of one digest only send a log to the whole update. Whether a page
  // is there is asked of the folder, which the stamp says is as left.
  struct KnownList {
    platform::FileStamp web;
    std::unordered_set<std::size_t> logs;
  };
  static std::size_t log_digest(std::string_view log_name) { return std::hash<std::string_view>()(log_name); }

  Outcome update(const std::string& list_name, const std::vector<std::string>& log_names,
                 std::vector<Message>& messages);
  bool update_known(KnownList& known, const std::string& list_name,
                    const std::vector<std::string>& log_names, std::vector<Message>& messages,
                    Outcome& outcome);
  PageWriting page_writing(const std::string& list_name);
  Outcome sort_all();
  void remember_sorted(const std::string& menu_path);
  bool write_link_page(const std::string& menu_path, std::string_view bytes);

  UserInterface& ui_;
  // The link page limit of the account, read once: the account's options do
  // not change under a job.
  std::size_t link_limit_;
  std::unordered_map<std::string, KnownList> lists_;
  std::unordered_map<std::string, platform::FileStamp> sorted_;  // link page -> stamp while in order
  std::vector<std::string> sort_lists_;  // the lists sort_link_pages takes, this call
  ListNamesCache& list_names_;
  std::unordered_set<std::string> marked_;  // list names whose mark this job made
  std::unordered_set<std::string> spares_;  // spare files of the link pages this job wrote
};

}  // namespace larkspur
