// The second half of a receive job: matches the scanned messages to the lists
// by subject, retrieves each match, stores it as a log file of the list,
// deletes it on the server when the list asks, marks the list as having new
// mail and brings the list's pages up to date.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/receive_job.h"

namespace larkspur {

// Tries for a free log name within one second before a log is given up.
inline constexpr int kMaxLogNameTries = 1000;

// True when `subject` begins with `search_text`, byte for byte (an empty
// search text matches every subject).
bool subject_matches(std::string_view subject, std::string_view search_text);

// Stores one log in the folder "LKset\<list_name>" without ever replacing a
// file: the name is log_file_name(time, n) for the first n from `log_number`
// on that is free, and the content is written atomically. The path and the
// number used, or nullopt when no log could be written.
struct StoredLog {
  std::string path;
  int log_number = 0;
};
std::optional<StoredLog> store_log(std::string_view list_name, const platform::LocalTime& time,
                                   int log_number, std::string_view subject,
                                   std::string_view message_text);

// With extended mail handling after a complete scan (state.scan_complete):
// removes from each list's stored ids (job/seen_messages.h) those of messages
// no longer on the server. Does nothing otherwise. sort_and_store calls it.
void forget_messages_gone(const ReceiveJobState& state);

// Sorts the messages of job.state.scanned into the lists of
// job.state.list_files over a retrieval connection of its own:
// - messages from the last scanned to the first; for each the lists in
//   presentation order (the last list file first);
// - a list whose record cannot be read is skipped for that message;
// - on a match: status 7, the list's slot in job.table is marked and its
//   record's new_mail set, then RETR; the log is written (atomically, never
//   over an existing file) and only then DELE when the list deletes; a failed
//   RETR, log write or DELE sets status 8, and after a failed DELE the log
//   just written is removed again;
// - after each stored log: update_list_pages, sort_link_pages,
//   refresh_list_panel;
// - at the end the notice of messages that matched no list (status 12 and a
//   pause), status 9, QUIT and pop3_shutdown.
// When the retrieval connection cannot be opened it returns at once (status
// unchanged). Once cancelled no further message or list is handled.
// With extended mail handling (job.state.extended_mail) each message is stored
// at most once per list, across jobs; see sort_extended in the .cpp.
void sort_and_store(ReceiveJobContext& job);

}  // namespace larkspur
