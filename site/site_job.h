// The site work of one receive job. After each log it stores, the job calls
// log_stored, which leaves the same files as update_list_pages for the log's
// list followed by sort_link_pages, but does only what can have changed:
// it remembers, between logs, the state in which it left each web folder and
// each link page, and checks that state cheaply (file_stamp) instead of
// listing folders and reading every link page again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

class SiteJob {
 public:
  // Messages (the size message) are shown through `ui`, never while the site
  // lock is held. One object per job, used from one thread.
  explicit SiteJob(UserInterface& ui) : ui_(ui) {}

  // The log `log_path` ("LKset\<list_name>\<file>.log") was just stored:
  // brings the list's pages up to date and every link page into order.
  // The outcome is that of update_list_pages and sort_link_pages together.
  Outcome log_stored(std::string_view list_name, std::string_view log_path);

 private:
  // A web folder as this job left it, every log of the list with its page.
  struct KnownList {
    platform::FileStamp web;
    std::unordered_set<std::string> logs;
    std::unordered_set<std::string> pages;
  };

  Outcome update(const std::string& list_name, std::string_view log_name, std::vector<Message>& messages);
  bool update_known(KnownList& known, const std::string& list_name, std::string_view log_name,
                    std::vector<Message>& messages, Outcome& outcome);
  Outcome sort_all();
  void remember_sorted(const std::string& menu_path);

  UserInterface& ui_;
  std::unordered_map<std::string, KnownList> lists_;
  std::unordered_map<std::string, platform::FileStamp> sorted_;  // link page -> stamp while in order
  std::vector<std::string> sort_lists_;  // the lists sort_link_pages takes, this call
};

}  // namespace larkspur
