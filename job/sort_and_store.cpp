#include "job/sort_and_store.h"

#include <algorithm>
#include <set>

#include "job/mail_source.h"
#include "job/seen_messages.h"
#include "retrieval/mime.h"
#include "search/search_index.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/site_job.h"

namespace larkspur {

std::string list_name_of(std::string_view record_file) {
  return std::string(record_file.substr(0, record_file.size() >= 4 ? record_file.size() - 4 : 0));
}

std::string notice_text(int remaining) {
  return platform::jp("他の新着メールが ") + std::to_string(remaining) +
         platform::jp(" 件ありました");
}

namespace {

// A log is written once under a new name, so a temporary file that a killed
// job left behind ("~<log>.tmp") is never written again by its writer. Only
// receive jobs write logs, and this one holds the folder's job lock: every
// such file in the list folder is a leftover and goes.
void sweep_log_temporaries(std::string_view list_name) {
  const std::string folder = list_folder(list_name) + "\\";
  for (const std::string& name : platform::find_files(folder + "~*.log.tmp")) {
    platform::delete_file(folder + name);
  }
}

// The end of the retrieval connection: at once when `stopped`; otherwise the
// other-mail notice when messages matched no list, then QUIT, on which the
// server carries out the deletions. Without a positive answer nobody knows
// whether it did.
void finish_connection(ReceiveJobContext& job, MailSource& source, bool stopped, int remaining,
                       bool deletion_asked) {
  if (stopped) {
    source.finish();
    pop3_shutdown(job.client);
    return;
  }
  if (remaining > 0) {
    job.state.set_notice(notice_text(remaining));
    job.set_status(ReceiveStatus::kNotice);
    job.hold_status();
  }
  job.set_status(ReceiveStatus::kDisconnecting);
  if (!source.finish().ok() && deletion_asked) {
    job.fail(platform::jp("サーバーが切断（QUIT）に応答しなかったため、削除は確認できませんでした"));
  }
  pop3_shutdown(job.client);
}

}  // namespace

void forget_messages_gone(const ReceiveJobState& state) {
  if (!state.extended_mail || !state.scan_complete) return;
  std::set<std::string> on_server;
  for (const ScannedMessage& message : state.scanned) {
    if (!message.id.empty()) on_server.insert(message.id);
  }
  for (const std::string& file : state.list_files) {
    const std::string name = list_name_of(file);
    StoredIds ids = read_stored_ids(name);
    if (std::erase_if(ids, [&on_server](const auto& entry) { return !on_server.count(entry.first); })) {
      write_stored_ids(name, ids);
    }
  }
}

bool subject_matches(std::string_view subject, std::string_view search_text) {
  return subject.substr(0, search_text.size()) == search_text;
}

std::optional<StoredLog> store_log(std::string_view list_name, const platform::LocalTime& time,
                                   int log_number, std::string_view subject,
                                   std::string_view message_text, bool forced) {
  const std::string folder = list_folder(list_name) + "\\";
  const std::string content = log_file_content(subject, message_text);
  for (int tries = 0; tries < kMaxLogNameTries; ++tries, ++log_number) {
    const std::string path = folder + log_file_name(time, log_number);
    const bool created = forced ? platform::create_file_exclusive(path, content)
                                : platform::create_file_exclusive_deferred(path, content);
    if (created) return StoredLog{path, log_number};
    // A log of the same second and number is there already (an earlier job
    // this second, or a clock set back): take the next number. Any other
    // failure ends the attempt.
    if (!platform::can_read_file(path) && !platform::folder_exists(path)) return std::nullopt;
  }
  return std::nullopt;
}

// A message is about to be stored for the list: its folders are made, its
// mark goes on in the panel, and its record's new_mail is set. A record that
// already holds the mark would be rewritten (and forced to disk) with the
// very same bytes: only a change is written.
void prepare_list(ReceiveJobContext& job, SortingMemory& memory, const std::string& name) {
  platform::create_folder(list_folder(name));
  if (memory.swept_lists.insert(name).second) sweep_log_temporaries(name);
  memory.site.log_coming(name);
  job.table.mark_list(name, 1);
  const std::optional<ListRecord> record = memory.records.read(name);
  if (record && record->new_mail != 1) set_new_mail(name, 1);
  platform::create_folder(list_web_folder(name));
}

// store_log at the job's clock; a log that cannot be written fails the job.
std::optional<StoredLog> store_job_log(ReceiveJobContext& job, const std::string& name,
                                       int log_number, std::string_view subject,
                                       std::string_view message_text, bool forced,
                                       const platform::LocalTime* time) {
  const platform::LocalTime now =
      time ? *time : job.hooks.clock ? job.hooks.clock() : platform::local_time();
  std::optional<StoredLog> log = store_log(name, now, log_number, subject, message_text, forced);
  if (!log) {
    job.set_status(ReceiveStatus::kReceiveFailed);
    job.fail(platform::jp("ログファイルを書き込めませんでした: ") + list_folder(name));
  }
  return log;
}

// The pages and the panel after a stored log. A log whose page or link line
// could not be written is stored all the same (the next update or rebuild
// brings it), but the job says so.
void show_stored_log(ReceiveJobContext& job, SortingMemory& memory, const std::string& name,
                     const StoredLog& log) {
  const Outcome pages = memory.site.log_stored(name, log.path);
  if (!pages.ok()) {
    job.fail(pages.reason);
  }
  // The search index takes the log when the job's sorting ends (see
  // SortingMemory); a failure costs only the search, which the next job or
  // rebuild brings back in step.
  memory.unindexed_logs[name].push_back(log.path);
  memory.panel.refresh(job.table);
}

SortingMemory::~SortingMemory() {
  if (!unindexed_logs.empty()) add_logs_to_search_index(unindexed_logs);
}

void finish_stopped_job(ReceiveJobContext& job) {
  std::vector<std::string> names;
  for (const std::string& file : job.state.list_files) names.push_back(list_name_of(file));
  // A job stopped between storing a log and indexing it leaves an index that
  // lacks the log: the logs of the lists with work to finish that the index
  // may lack are added, before the marks go (a stop during this leaves them
  // for the next job).
  std::vector<std::string> stopped;
  std::copy_if(names.begin(), names.end(), std::back_inserter(stopped), [](const std::string& name) {
    return platform::can_read_file(list_folder(name) + "\\" + std::string(kPagesPendingMark));
  });
  if (stopped.empty()) return;
  catch_up_search_index(stopped);
  const Outcome pages = finish_stopped_site_work(stopped, job.ui);
  if (!pages.ok()) {
    job.fail(pages.reason);
  }
}

void sort_and_store(ReceiveJobContext& job, MailSource& source) {
  ReceiveJobState& state = job.state;
  if (!source.open().ok()) {
    if (!job.is_cancelled()) {
      job.fail(platform::jp("受信用の接続を開けませんでした"));
    }
    return;
  }

  const int count = static_cast<int>(state.scanned.size());
  const int last_list = static_cast<int>(state.list_files.size()) - 1;
  int remaining = count;
  int log_number = 0;              // logs stored by this call so far
  std::set<int> deleted_messages;  // deleted by this job for an earlier list
  bool deletion_asked = false;     // a DELE was sent on this connection
  SourceMessage retrieved;
  SortingMemory memory(job.ui);
  std::set<std::string> folders_made;  // list folders created by this job

  for (int m = count - 1; m >= 0 && !job.is_cancelled(); --m) {
    const ScannedMessage& message = state.scanned[static_cast<std::size_t>(m)];
    job.set_status(ReceiveStatus::kSorting);
    bool matched_before = false;
    for (int l = last_list; l >= 0 && !job.is_cancelled(); --l) {
      const std::string name = list_name_of(state.list_files[static_cast<std::size_t>(l)]);
      // Each list has its folder from the first message on; a list that
      // takes a message gets it once more below, should it have gone since.
      if (folders_made.insert(name).second) platform::create_folder(list_folder(name));

      // A record that cannot be read is no empty record: it would take every
      // message and be rewritten with nothing but new_mail. Skip the list.
      const std::optional<ListRecord> record = memory.records.read(name);
      if (!record) continue;
      if (!subject_matches(message.subject, record->search_text)) continue;

      job.set_status(ReceiveStatus::kReceiving);
      if (!matched_before) {
        matched_before = true;
        --remaining;
      }
      prepare_list(job, memory, name);

      // One message at a time, its deletion right behind its log.
      retrieved = SourceMessage{};
      source.fetch({{message.number, {}, -1}}, [&retrieved](SourceMessage& fetched) {
        retrieved = std::move(fetched);
        return true;
      });
      if (!retrieved.outcome.ok()) {
        // A message this job deleted for an earlier list is gone by design.
        if (deleted_messages.count(message.number)) {
          job.set_status(ReceiveStatus::kReceiveFailed);
        } else {
          job.fail_with(ReceiveStatus::kReceiveFailed, retrieved.outcome.reason);
        }
        continue;
      }
      // The retrieval runs on a session of its own: should another client
      // have changed the mailbox since the scan, the number may name another
      // message now. Such a message is neither stored under the scanned
      // subject nor deleted; it stays on the server for the next job.
      if (retrieved.subject != message.subject) {
        job.fail_with(ReceiveStatus::kReceiveFailed,
                      platform::jp("スキャンの後にメールボックスが変わったため、メールを受信しませんでした（番号 ") +
                          std::to_string(message.number) + platform::jp("）"));
        continue;
      }

      // The log goes to disk before the message may go from the server.
      const std::optional<StoredLog> log =
          store_job_log(job, name, log_number + 1, message.subject, retrieved.text);
      if (!log) continue;
      if (record->delete_from_server != 0) {
        deletion_asked = true;
        const SourceOutcome deleted = source.mark_deleted({message.number}, [](int) {});
        if (deleted.result == SourceResult::kRefused) {
          // The message stays on the server, so the next job brings it
          // again; keeping this log as well would store it twice.
          platform::delete_file(log->path);
          job.fail_with(ReceiveStatus::kReceiveFailed, deleted.reason);
          continue;
        }
        if (!deleted.ok()) {
          // No answer: the server may have marked it, and QUIT would then
          // delete it. The log is kept, so the message is never lost; at
          // worst it is stored again by the next job.
          job.fail_with(ReceiveStatus::kReceiveFailed, deleted.reason);
        }
        deleted_messages.insert(message.number);
      }
      log_number = log->log_number;
      show_stored_log(job, memory, name, *log);
    }
  }
  finish_connection(job, source, job.is_cancelled(), remaining, deletion_asked);
}

}  // namespace larkspur
