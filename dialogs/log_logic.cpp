#include "dialogs/log_logic.h"

#include "dialogs/messages.h"
#include "settings/records.h"
#include "settings/store.h"

namespace larkspur {

namespace {

// The dialog reads at most this many bytes of a first line, LF included.
constexpr std::size_t kFirstLineRead = kMaxLogLineShown + 1;

}  // namespace

std::vector<std::string> log_dialog_lists(UserInterface& ui) {
  std::vector<std::string> lists = enumerate_lists();
  if (lists.empty()) ui.notify(messages::no_list_records());
  return lists;
}

std::string log_first_line(std::string_view path) {
  std::optional<std::string> head = platform::read_file(path, kFirstLineRead);
  if (!head) return {};
  const std::size_t line_end = head->find('\n');
  if (line_end != std::string::npos) return head->substr(0, line_end);
  // No LF within the bytes read: a long line shows its first 254 bytes (the
  // last byte read gives way, as the LF would); a file that ends before that
  // without any LF shows whole.
  if (head->size() == kFirstLineRead) head->pop_back();
  return *head;
}

std::vector<LogEntry> list_logs(std::string_view list_name) {
  // "" or ".." (from a record file named by hand) names no list folder.
  if (!is_plain_file_name(list_name)) return {};
  const std::string folder = list_folder(list_name);
  // A list folder that is a link leads out of the working folder; its files
  // are not this list's logs and are never offered for deletion.
  if (platform::is_link(folder)) return {};
  const std::vector<std::string> files = platform::find_files(folder + "\\*.log");
  std::vector<LogEntry> logs;
  logs.reserve(files.size());
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    logs.push_back(LogEntry{*it, log_first_line(folder + "\\" + *it)});
  }
  return logs;
}

LogDeleteResult delete_logs(const LogDeleteChoice& choice, UserInterface& ui) {
  LogDeleteResult result;  // the rebuild is requested in every case
  if (choice.log_line.empty()) {
    ui.notify(messages::no_log_selected());
    result.outcome = Outcome::refused(messages::no_log_selected().text);
    return result;
  }
  if (!choice.list_name) {
    result.outcome = Outcome::refused(platform::jp("リストが選択されていません。"));
    return result;
  }

  const std::string folder = list_folder(*choice.list_name);
  // Compared as shown: a longer line given by a caller counts by its first
  // kMaxLogLineShown bytes, like the lines it is compared with.
  const std::string_view wanted =
      std::string_view(choice.log_line).substr(0, kMaxLogLineShown);
  // Every name and line is gathered before the first deletion.
  for (const LogEntry& log : list_logs(*choice.list_name)) {
    if (log.first_line != wanted) continue;
    ++result.matched;
    if (platform::delete_file(folder + "\\" + log.file_name)) {
      ++result.deleted;
    } else {
      ui.notify(messages::delete_failed());
      result.outcome.fail(messages::delete_failed().text);
    }
  }
  if (result.matched == 0) {
    result.outcome = Outcome::refused(platform::jp("その件名のログはありません。"));
  }
  result.refill_logs = true;
  return result;
}

}  // namespace larkspur
