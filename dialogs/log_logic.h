// The logic behind the log deletion dialog, free of window code. A log is
// shown and chosen by its first line (the subject); deleting removes every
// log of the list whose first line equals the chosen one. Deleting logs
// leaves their pages: the shell runs the full rebuild afterwards.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

// Bytes of a log's first line that are shown and compared.
inline constexpr std::size_t kMaxLogLineShown = 254;

// The lists list box on opening and on "クリア": the list names in
// presentation order. With no list record file at all, notifies
// messages::no_list_records() and gives an empty list.
std::vector<std::string> log_dialog_lists(UserInterface& ui);

// One log of a list: its file name in the list folder and its first line.
struct LogEntry {
  std::string file_name;   // "19990505090503_1.log"
  std::string first_line;  // without its LF, at most kMaxLogLineShown bytes
};

// The logs of "LKset\<list_name>\*.log" in the dialog's order (the reverse
// of the search order, so the newest log comes first). A log that cannot be
// read, or whose first line is empty, has an empty first_line.
std::vector<LogEntry> list_logs(std::string_view list_name);

// The first line of the log at `path` as the dialog shows it: the bytes up
// to the first LF, at most kMaxLogLineShown of them; empty when the file
// cannot be read.
std::string log_first_line(std::string_view path);

// What "削除" chose: the selected list (nullopt: none) and the selected log
// line (empty: none).
struct LogDeleteChoice {
  std::optional<std::string> list_name;
  std::string log_line;
};

struct LogDeleteResult {
  // Always true: every press of "削除" asks the shell for the full rebuild,
  // whatever follows.
  bool rebuild_requested = true;
  bool refill_logs = false;  // show list_logs() of the list again; no log selected
  int matched = 0;           // logs whose first line equals the chosen one
  int deleted = 0;           // of those, the ones deleted
  // refused: no log line or no list chosen, or no log has that first line;
  // failed: a matching log could not be deleted; done otherwise.
  Outcome outcome;
};

// "削除": with no log line chosen, notifies messages::no_log_selected(); with
// no list chosen, does nothing more. Otherwise deletes every log of the list
// whose first line equals choice.log_line (its first kMaxLogLineShown
// bytes), notifying messages::delete_failed()
// once for each that cannot be deleted, and asks to refill the log list.
LogDeleteResult delete_logs(const LogDeleteChoice& choice, UserInterface& ui);

}  // namespace larkspur
