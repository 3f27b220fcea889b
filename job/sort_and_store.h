// The second half of a receive job: matches the scanned messages to the lists
// by subject, retrieves each match, stores it as a log file of the list,
// deletes it on the server when the list asks, marks the list as having new
// mail and brings the list's pages up to date.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "job/mail_source.h"
#include "job/receive_job.h"
#include "panel/list_panel.h"
#include "settings/store.h"
#include "site/site_job.h"

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
// With `forced` false the log is not forced to disk (see
// platform::create_file_exclusive_deferred): the caller forces a batch of logs
// with platform::force_to_disk before anything relies on them.
std::optional<StoredLog> store_log(std::string_view list_name, const platform::LocalTime& time,
                                   int log_number, std::string_view subject,
                                   std::string_view message_text, bool forced = true);

// With extended mail handling after a complete scan (state.scan_complete):
// removes from each list's stored ids (job/seen_messages.h) those of messages
// no longer on the server. Does nothing otherwise. sort_and_store calls it.
void forget_messages_gone(const ReceiveJobState& state);

// ------------------------------------------ steps both sortings share

// "Weekly.stf" names the list Weekly: the file name less its last four
// characters.
std::string list_name_of(std::string_view record_file);
// "他の新着メールが N 件ありました".
std::string notice_text(int remaining);

// What the sorting keeps from one log to the next: the site work, the list
// records and the panel (each reads again only what changed), and the list
// folders already cleared of leftover temporaries.
struct SortingMemory {
  explicit SortingMemory(UserInterface& ui) : site(ui, list_names), panel(records, list_names) {}
  // The logs show_stored_log stored go into the search index here, at one
  // reading and writing of it, before the site job takes its marks away (a
  // stop before this leaves them to the next job's catch-up).
  ~SortingMemory();
  SortingMemory(const SortingMemory&) = delete;
  SortingMemory& operator=(const SortingMemory&) = delete;
  // One reading of LKset\ serves the site work and the panel.
  ListNamesCache list_names;
  SiteJob site;
  ListRecordCache records;
  ListPanelRefresher panel;
  std::set<std::string> swept_lists;
  std::map<std::string, std::vector<std::string>> unindexed_logs;  // by list: paths of logs
};

// A message is about to be stored for the list: its folders are made, its
// mark goes on in the panel, and its record's new_mail is set.
void prepare_list(ReceiveJobContext& job, SortingMemory& memory, const std::string& name);

// store_log at the job's clock, or at `time` when given (an imported
// message's own time); a log that cannot be written fails the job (status
// kReceiveFailed, the reason recorded).
std::optional<StoredLog> store_job_log(ReceiveJobContext& job, const std::string& name,
                                       int log_number, std::string_view subject,
                                       std::string_view message_text, bool forced = true,
                                       const platform::LocalTime* time = nullptr);

// The pages and the panel after a stored log; pages that could not be
// written fail the job (the log stays).
void show_stored_log(ReceiveJobContext& job, SortingMemory& memory, const std::string& name,
                     const StoredLog& log);

// The pages and link lines an earlier job was stopped before writing, for
// every list of job.state.list_files, whether or not new mail comes for it;
// pages that cannot be written fail the job. Runs once the lists are known.
void finish_stopped_job(ReceiveJobContext& job);

// Sorts the messages of job.state.scanned into the lists of
// job.state.list_files over a retrieval session of its own (source.open):
// - messages from the last scanned to the first; for each the lists in
//   presentation order (the last list file first);
// - a list whose record cannot be read is skipped for that message;
// - on a match: status receiving, the list's slot in job.table is marked and its
//   record's new_mail set, then RETR; the log is written (atomically, never
//   over an existing file) and only then DELE when the list deletes; a failed
//   RETR, log write or DELE sets status kReceiveFailed, and after a refused DELE the
//   log just written is removed again;
// - after each stored log: update_list_pages, sort_link_pages,
//   refresh_list_panel;
// - at the end the notice of messages that matched no list (status notice
//   and a pause), status disconnecting, source.finish (QUIT) and pop3_shutdown.
// When the retrieval connection cannot be opened it returns at once (status
// unchanged). Once cancelled no further message or list is handled.
// Classic mail handling only: an account with extended mail handling sorts
// in job/extended_receive.h.
void sort_and_store(ReceiveJobContext& job, MailSource& source);

}  // namespace larkspur
