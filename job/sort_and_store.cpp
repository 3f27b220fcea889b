#include "job/sort_and_store.h"

#include <set>

#include "job/seen_messages.h"
#include "retrieval/mime.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/site_job.h"

namespace larkspur {

namespace {

// "LKset\Weekly.stf" names the list Weekly: the file name less its last four
// characters.
std::string list_name_of(std::string_view record_file) {
  return std::string(record_file.substr(0, record_file.size() >= 4 ? record_file.size() - 4 : 0));
}

std::string notice_text(int remaining) {
  return platform::jp("他の新着メールが ") + std::to_string(remaining) +
         platform::jp(" 件ありました");
}

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

// One list as the extended sorting sees it through a job: its record as
// read at the first message, and the ids stored for it.
struct ListInJob {
  std::string name;
  std::optional<ListRecord> record;
  StoredIds stored_ids;
  bool ids_read = false;
};

StoredIds& stored_ids_of(ListInJob& list) {
  if (!list.ids_read) {
    list.stored_ids = read_stored_ids(list.name);
    list.ids_read = true;
  }
  return list.stored_ids;
}

// Whether the list stored this message before: its id and size are noted
// there and, when `fingerprint` is given (the message is to be deleted),
// its fingerprint too. A message deleted from the server without a second
// log must be the very message stored; when in doubt it is stored again.
bool stored_before(ListInJob& list, const ScannedMessage& message,
                   std::string_view fingerprint = {}) {
  if (message.id.empty()) return false;
  const StoredIds& ids = stored_ids_of(list);
  if (!holds_message(ids, message.id, message.size)) return false;
  return fingerprint.empty() || ids.at(message.id).fingerprint == fingerprint;
}

// The end of the retrieval connection: at once when `stopped`; otherwise the
// other-mail notice when messages matched no list, then QUIT, on which the
// server carries out the deletions. Without a positive answer nobody knows
// whether it did.
void finish_connection(ReceiveJobContext& job, bool stopped, int remaining, bool deletion_asked) {
  Pop3Client& client = job.client;
  if (stopped) {
    pop3_close(client);
    pop3_shutdown(client);
    return;
  }
  if (remaining > 0) {
    job.state.set_notice(notice_text(remaining));
    job.set_status(ReceiveStatus::notice);
    job.pause(kNoticePauseMs);
  }
  job.set_status(ReceiveStatus::disconnecting);
  if (pop3_close(client) != 1 && deletion_asked) {
    job.state.report.quit_unconfirmed = true;
    job.fail(platform::jp("サーバーが切断（QUIT）に応答しなかったため、削除は確認できませんでした"));
  }
  pop3_shutdown(client);
}

void sort_extended(ReceiveJobContext& job);

void forget_scanned(ReceiveJobContext& job, const std::set<std::string>& ids) {
  if (ids.empty()) return;
  const std::string& owner = job.state.scan_cache_owner;
  ScanCache cache = read_scan_cache(owner);
  if (!cache.found) return;
  if (std::erase_if(cache.messages, [&ids](const auto& entry) { return ids.count(entry.first) != 0; })) {
    write_scan_cache(owner, cache);
  }
}

// The outcome's reason for a message over the client's reply bound: which
// message, and why it stays on the server.
std::string too_big_reason(const Pop3Client& client, const ScannedMessage& message) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::size_t bound = client.max_reply_bytes;
  const std::string limit = bound % kMiB == 0 ? std::to_string(bound / kMiB) + "MB"
                                              : std::to_string(bound) + platform::jp("バイト");
  return platform::jp("メールが大きすぎるため受信できませんでした（") + limit +
         platform::jp("超、番号 ") +
         std::to_string(message.number) + platform::jp("、件名「") + message.subject +
         platform::jp("」）。サーバーに残しました");
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
                                   std::string_view message_text) {
  const std::string folder = list_folder(list_name) + "\\";
  const std::string content = log_file_content(subject, message_text);
  for (int tries = 0; tries < kMaxLogNameTries; ++tries, ++log_number) {
    const std::string path = folder + log_file_name(time, log_number);
    if (platform::create_file_exclusive(path, content)) return StoredLog{path, log_number};
    // A log of the same second and number is there already (an earlier job
    // this second, or a clock set back): take the next number. Any other
    // failure ends the attempt.
    if (!platform::can_read_file(path) && !platform::folder_exists(path)) return std::nullopt;
  }
  return std::nullopt;
}

namespace {

// What the sorting keeps from one log to the next: the site work, the list
// records and the panel (each reads again only what changed), and the list
// folders already cleared of leftover temporaries.
struct SortingMemory {
  explicit SortingMemory(UserInterface& ui) : site(ui), panel(records) {}
  SiteJob site;
  ListRecordCache records;
  ListPanelRefresher panel;
  std::set<std::string> swept_lists;
};

// A message is about to be stored for the list: its folders are made, its
// mark goes on in the panel, and its record's new_mail is set. A record that
// already holds the mark would be rewritten (and forced to disk) with the
// very same bytes: only a change is written.
void prepare_list(ReceiveJobContext& job, SortingMemory& memory, const std::string& name) {
  platform::create_folder(list_folder(name));
  if (memory.swept_lists.insert(name).second) sweep_log_temporaries(name);
  job.table.mark_list(name, 1);
  const std::optional<ListRecord> record = memory.records.read(name);
  if (record && record->new_mail != 1) set_new_mail(name, 1);
  platform::create_folder(list_web_folder(name));
}

// store_log at the job's clock; a log that cannot be written fails the job.
std::optional<StoredLog> store_job_log(ReceiveJobContext& job, const std::string& name,
                                       int log_number, std::string_view subject,
                                       std::string_view message_text) {
  const platform::LocalTime time = job.hooks.clock ? job.hooks.clock() : platform::local_time();
  std::optional<StoredLog> log = store_log(name, time, log_number, subject, message_text);
  if (!log) {
    job.set_status(ReceiveStatus::receive_failed);
    ++job.state.report.log_write_failures;
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
    ++job.state.report.page_failures;
    job.fail(pages.reason);
  }
  memory.panel.refresh(job.table);
}

}  // namespace

void sort_and_store(ReceiveJobContext& job) {
  if (job.state.extended_mail) {
    sort_extended(job);
    return;
  }
  ReceiveJobState& state = job.state;
  Pop3Client& client = job.client;
  if (pop3_open(client) != 1) {
    if (!job.is_cancelled()) {
      state.report.retrieval_open_failed = true;
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
  std::string message_text;
  std::string retrieved_subject;
  SortingMemory memory(job.ui);
  std::set<std::string> folders_made;  // list folders created by this job

  for (int m = count - 1; m >= 0 && !job.is_cancelled(); --m) {
    const ScannedMessage& message = state.scanned[static_cast<std::size_t>(m)];
    job.set_status(ReceiveStatus::sorting);
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

      job.set_status(ReceiveStatus::receiving);
      if (!matched_before) {
        matched_before = true;
        --remaining;
      }
      prepare_list(job, memory, name);

      message_text.clear();
      if (pop3_retrieve(client, message.number, message_text, 0, 0, &retrieved_subject) != 1) {
        job.set_status(ReceiveStatus::receive_failed);
        if (!deleted_messages.count(message.number) && !job.is_cancelled()) {
          ++state.report.retrieve_failures;
          job.fail(status_text(ReceiveStatus::receive_failed, {}));
        }
        continue;
      }
      // The retrieval runs on a session of its own: should another client
      // have changed the mailbox since the scan, the number may name another
      // message now. Such a message is neither stored under the scanned
      // subject nor deleted; it stays on the server for the next job.
      if (retrieved_subject != message.subject) {
        job.set_status(ReceiveStatus::receive_failed);
        ++state.report.retrieve_failures;
        job.fail(platform::jp("スキャンの後にメールボックスが変わったため、メールを受信しませんでした（番号 ") +
                 std::to_string(message.number) + platform::jp("）"));
        continue;
      }

      // The log goes to disk before the message may go from the server.
      const std::optional<StoredLog> log =
          store_job_log(job, name, log_number + 1, message.subject, message_text);
      if (!log) continue;
      if (record->delete_from_server != 0) {
        deletion_asked = true;
        const int deleted = pop3_delete(client, message.number);
        if (deleted == 0) {
          // Refused: the message stays on the server, so the next job brings
          // it again; keeping this log as well would store it twice.
          platform::delete_file(log->path);
          job.set_status(ReceiveStatus::receive_failed);
          if (!job.is_cancelled()) {
            ++state.report.delete_failures;
            job.fail(platform::jp("サーバーがメールの削除を拒否しました"));
          }
          continue;
        }
        if (deleted == kDeleteUnanswered) {
          // No answer: the server may have marked it, and QUIT would then
          // delete it. The log is kept, so the message is never lost; at
          // worst it is stored again by the next job.
          job.set_status(ReceiveStatus::receive_failed);
          ++state.report.deletes_unanswered;
          job.fail(platform::jp("メール削除の応答がありませんでした（ログは保存しました）"));
        }
        deleted_messages.insert(message.number);
      }
      log_number = log->log_number;
      ++state.report.logs_stored;
      show_stored_log(job, memory, name, *log);
    }
  }
  finish_connection(job, job.is_cancelled(), remaining, deletion_asked);
}

namespace {

// Sorting with extended mail handling, on the scan's session (still open:
// the numbers are the scan's). Like the classic sorting (messages from the
// last scanned, lists in presentation order), except:
// - a message already stored for a list is not stored for it again; when
//   that list deletes from the server and the message is still there (its
//   deletion was never carried out), it is deleted without a second log, but
//   only once its headers have shown it is the message stored (an id may be
//   given again to another message);
// - a message is retrieved once (RETR, no conversion on the wire), its log
//   text made by extended_log_text, and stored for every list it matches;
// - each log is on disk before its id goes into the list's stored ids;
// - DELE follows once the message is stored for every matching list, when
//   one of them deletes;
// - the notice counts the new messages (not seen by an earlier scan) that
//   matched no list;
// - a message with nothing to do sets no status (a mailbox kept on the
//   server passes by quietly);
// - a message too big to retrieve is named in the outcome, and the others
//   go on;
// - after a complete scan, ids no longer on the server are forgotten.
void sort_extended(ReceiveJobContext& job) {
  ReceiveJobState& state = job.state;
  Pop3Client& client = job.client;
  std::vector<ListInJob> lists;
  for (const std::string& file : state.list_files) {
    ListInJob list;
    list.name = list_name_of(file);
    platform::create_folder(list_folder(list.name));
    // A record that cannot be read is skipped, as in the classic sorting.
    list.record = read_list(list.name);
    lists.push_back(std::move(list));
  }

  int remaining = 0;
  int log_number = 0;
  bool deletion_asked = false;
  std::string raw;
  std::string message_text;
  SortingMemory memory(job.ui);
  std::set<std::string> deleted_ids;  // DELE accepted in this job

  // The lists a message matches, in presentation order, and what they ask.
  struct Matches {
    std::vector<ListInJob*> lists;
    bool work = false;               // a list lacks it, or deletes it
    bool deletes = false;            // a list deletes it from the server
    bool relies_on_earlier = false;  // a list stored it before
  };
  const auto match = [&lists](const ScannedMessage& message) {
    Matches found;
    for (auto l = lists.rbegin(); l != lists.rend(); ++l) {
      if (!l->record || !subject_matches(message.subject, l->record->search_text)) continue;
      found.lists.push_back(&*l);
      const bool before = stored_before(*l, message);
      found.relies_on_earlier = found.relies_on_earlier || before;
      found.deletes = found.deletes || l->record->delete_from_server != 0;
      if (!before || l->record->delete_from_server != 0) found.work = true;
    }
    return found;
  };

  for (auto m = state.scanned.rbegin(); m != state.scanned.rend() && !job.is_cancelled(); ++m) {
    ScannedMessage message = *m;
    Matches matches = match(message);
    if (matches.lists.empty()) {
      if (!message.seen_before) ++remaining;
      continue;
    }
    if (!matches.work) continue;
    job.set_status(ReceiveStatus::sorting);

    // The message goes from the server although some list has no new log of
    // it: the headers on the server must be those stored. Headers that are
    // not those the scan cache knew (an id given to other mail of the same
    // size) also bring the subject the message is sorted by.
    std::string fingerprint = message.fingerprint;
    if (matches.deletes && matches.relies_on_earlier && fingerprint.empty()) {
      std::string header;
      if (pop3_header_block(client, message.number, header) != 1) {
        job.set_status(ReceiveStatus::receive_failed);
        if (!job.is_cancelled()) {
          ++state.report.retrieve_failures;
          job.fail(status_text(ReceiveStatus::receive_failed, {}));
        }
        continue;
      }
      fingerprint = message_fingerprint(header);
      if (const std::string subject = extended_subject(header); subject != message.subject) {
        message.subject = subject;
        matches = match(message);
        if (matches.lists.empty()) ++remaining;
        if (!matches.work) continue;
      }
    }
    const std::vector<ListInJob*>& matching = matches.lists;
    const bool deletes = matches.deletes;

    bool retrieved = false;
    bool stored_everywhere = true;  // in every matching list, now or before
    for (ListInJob* list : matching) {
      if (job.is_cancelled()) break;
      if (stored_before(*list, message, fingerprint)) continue;
      const std::string& name = list->name;
      job.set_status(ReceiveStatus::receiving);
      prepare_list(job, memory, name);

      if (!retrieved) {
        const int read = pop3_retrieve_raw(client, message.number, raw);
        if (read != 1) {
          job.set_status(ReceiveStatus::receive_failed);
          if (!job.is_cancelled()) {
            ++state.report.retrieve_failures;
            job.fail(read == kReplyTooLong ? too_big_reason(client, message)
                                           : status_text(ReceiveStatus::receive_failed, {}));
          }
          stored_everywhere = false;
          break;
        }
        message_text = extended_log_text(raw);
        if (fingerprint.empty()) fingerprint = message_fingerprint(raw);
        retrieved = true;
      }

      const std::optional<StoredLog> log =
          store_job_log(job, name, log_number + 1, message.subject, message_text);
      if (!log) {
        stored_everywhere = false;
        continue;
      }
      log_number = log->log_number;
      ++state.report.logs_stored;
      // The log is on disk: only now is the message noted as stored. A crash
      // in between stores it once more, never loses it.
      if (!message.id.empty()) {
        stored_ids_of(*list)[message.id] = {message.size, fingerprint};
        if (!write_stored_ids(name, list->stored_ids)) {
          // The log stays; the next job may store the message again.
          job.set_status(ReceiveStatus::receive_failed);
          ++state.report.log_write_failures;
          job.fail(platform::jp("受信済みの記録を書き込めませんでした: ") + list_folder(name));
        }
      }
      show_stored_log(job, memory, name, *log);
    }
    if (job.is_cancelled() || !deletes || !stored_everywhere) continue;

    deletion_asked = true;
    const int deleted = pop3_delete(client, message.number);
    if (deleted == 1) {
      if (!message.id.empty()) deleted_ids.insert(message.id);
      continue;
    }
    // The logs stay: the message is noted as stored, so a later job deletes
    // it without storing it again.
    job.set_status(ReceiveStatus::receive_failed);
    if (deleted == 0) {
      ++state.report.delete_failures;
      job.fail(platform::jp("サーバーがメールの削除を拒否しました"));
    } else {
      ++state.report.deletes_unanswered;
      job.fail(platform::jp("メール削除の応答がありませんでした（ログは保存しました）"));
    }
  }

  if (!job.is_cancelled()) forget_messages_gone(state);

  finish_connection(job, job.is_cancelled(), remaining, deletion_asked);
  // The ids of messages this job deleted leave the scan cache: a server may
  // give such an id to new mail, whose subject must then be read anew.
  forget_scanned(job, deleted_ids);
}

}  // namespace

}  // namespace larkspur
