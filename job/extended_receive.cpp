#include "job/extended_receive.h"

#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "job/seen_messages.h"
#include "job/sort_and_store.h"
#include "retrieval/mail_date.h"
#include "retrieval/mime.h"
#include "search/search_index.h"
#include "settings/store.h"

namespace larkspur {

namespace {

// Whose mailbox the scan cache describes.
std::string scan_cache_owner(const AccountRecord& account) {
  return account.server + " " + account.user_name;
}

// One list as the sorting sees it through a job: its record as read at the
// start, and the ids stored for it (read when first needed).
struct ListInJob {
  std::string name;
  std::optional<ListRecord> record;
  StoredIds stored_ids;
  bool ids_read = false;
  bool ids_changed = false;  // ids written in this batch, not yet forced to disk
  StoredKeys keys;            // a receive's: each key with its log and fingerprint
  std::unordered_set<std::string> key_names;  // an import's: the keys alone
  // The fingerprints of the messages its ids note: a message a receive
  // stored before keys were noted is known by them.
  std::unordered_set<std::string> fingerprints;
  bool keys_read = false;
  // The ids file ends in a line a killed writer left without its LF: the
  // next line appended must not be joined to it.
  bool tail_torn = false;
};

// Reads, once per job, what the list's ids file says of the messages stored
// before: their keys (an import keeps the keys alone, in key_names; a receive
// the keys with their details) and the fingerprints of its ids.
void read_keys_once(ListInJob& list, bool import) {
  if (!list.keys_read) {
    if (import) {
      list.key_names = read_stored_key_names(list.name);
    } else {
      list.keys = read_stored_keys(list.name);
    }
    for (const auto& [id, stored] : read_stored_ids(list.name)) {
      if (!stored.fingerprint.empty()) list.fingerprints.insert(stored.fingerprint);
    }
    const std::optional<std::string> tail = platform::read_file(stored_ids_path(list.name));
    list.tail_torn = tail && !tail->empty() && tail->back() != '\n';
    list.keys_read = true;
  }
}

StoredKeys& stored_keys_of(ListInJob& list) {
  read_keys_once(list, false);
  return list.keys;
}

std::unordered_set<std::string>& imported_keys_of(ListInJob& list) {
  read_keys_once(list, true);
  return list.key_names;
}

StoredIds& stored_ids_of(ListInJob& list) {
  if (!list.ids_read) {
    list.stored_ids = read_stored_ids(list.name);
    list.ids_read = true;
  }
  return list.stored_ids;
}

// Whether an import finds the message stored in the list before: its key
// noted, or (stored by a receive before keys were noted) its fingerprint.
bool imported_before(ListInJob& list, const std::string& key, std::string_view fingerprint) {
  if (imported_keys_of(list).contains(key)) return true;
  return !fingerprint.empty() && list.fingerprints.count(std::string(fingerprint)) != 0;
}

// Whether the list stored this message before: its id and size are noted
// there and, when `fingerprint` is given (the message is to be deleted),
// its fingerprint too. A message deleted from the server without a second
// log must be the very message stored; when in doubt it is stored again.
// For a deletion the log noted must be there too: no message leaves the
// server without its log on disk.
bool stored_before(ListInJob& list, const ScannedMessage& message,
                   std::string_view fingerprint = {}) {
  if (message.id.empty()) return false;
  const StoredIds& ids = stored_ids_of(list);
  if (!holds_message(ids, message.id, message.size)) return false;
  if (fingerprint.empty()) return true;
  const StoredMessage& stored = ids.at(message.id);
  return stored.fingerprint == fingerprint && !stored.log.empty() &&
         platform::can_read_file(list_folder(list.name) + "\\" + stored.log);
}

// Two messages of one listing under one id and size cannot be told apart:
// neither keeps its id, so neither ever counts as stored before (each is
// stored like mail without an id) and neither goes into the scan cache.
void drop_ambiguous_ids(std::vector<ScannedMessage>& scanned) {
  std::map<std::pair<std::string, long long>, int> uses;
  for (const ScannedMessage& message : scanned) {
    if (!message.id.empty()) ++uses[{message.id, message.size}];
  }
  for (ScannedMessage& message : scanned) {
    if (!message.id.empty() && uses[{message.id, message.size}] > 1) {
      message.id.clear();
      message.seen_before = false;
    }
  }
}

// A message the lists want something of: the lists it matches (presentation
// order) and what they ask.
struct Planned {
  ScannedMessage message;
  std::vector<ListInJob*> lists;
  bool work = false;               // a list lacks it, or deletes it
  bool deletes = false;            // a list deletes it from the server
  bool relies_on_earlier = false;  // a list stored it before
  bool fetch = false;              // some list needs a new log of it
  bool stored_everywhere = true;   // in every matching list, now or before
};

class ExtendedReceive {
 public:
  ExtendedReceive(ReceiveJobContext& job, const AccountRecord& account, MailSource& source)
      : job_(job), state_(job.state), source_(source), owner_(scan_cache_owner(account)),
        memory_(job.ui) {}
  ExtendedReceive(ReceiveJobContext& job, MailSource& source, const ImportOptions& options)
      : job_(job), state_(job.state), source_(source), memory_(job.ui), import_(&options) {}

  void run();
  void run_import();

 private:
  // A failure of the source or of the storing: status kReceiveFailed and
  // the reason (the first reason is the job's), through the job's one place
  // for it (nothing is recorded once the job is cancelled).
  void failed(const std::string& reason) { job_.fail_with(ReceiveStatus::kReceiveFailed, reason); }
  void scan_failed(const std::string& reason) {
    if (job_.is_cancelled()) return;
    job_.fail(reason.empty() ? platform::jp("メールボックスの検索が途中で失敗しました") : reason);
  }
  void show_notice(const std::string& text) {
    state_.set_notice(text);
    job_.set_status(ReceiveStatus::kNotice);
    job_.hold_status();
  }

  bool take_lists();
  void scan();
  void sort();
  Planned plan(const ScannedMessage& message);
  bool verify_planned(std::vector<Planned>& planned);
  bool store_batch(std::vector<Planned*>& batch);
  void store_message(Planned& entry, std::string& raw);
  void finish(bool stopped);
  void forget_scanned();
  std::string too_big_reason(const ScannedMessage& message) const;
  void load_lists(bool make_folders);
  bool store_planned(std::vector<Planned>& planned);
  bool import_window(const std::vector<SourceEntry>& window);
  bool note_key(ListInJob& list, const std::string& key, const KeyedMessage& message);
  bool keyed_before(ListInJob& list, const ScannedMessage& message, bool deleting);
  std::optional<StoredLog> log_left_unnoted(const std::string& list_name, const platform::LocalTime& time,
                                            const std::string& content, int& first_free);
  void progress(ReceiveStatus status);
  void write_pages(bool all);
  void import_progress();

  ReceiveJobContext& job_;
  ReceiveJobState& state_;
  MailSource& source_;
  std::string owner_;
  SortingMemory memory_;
  std::vector<ListInJob> lists_;
  int remaining_ = 0;
  int log_number_ = 0;
  bool deletion_asked_ = false;
  std::set<std::string> deleted_ids_;  // DELE accepted in this job
  // The Message-IDs of the messages whose headers this scan read, by number
  // (usable ones only): a message a list holds by its key is not stored
  // there again (keyed_before).
  std::map<int, std::string> message_ids_;
  std::vector<std::string> batch_files_;  // written in this batch, not yet forced to disk
  // An import (nullptr: a receive): its options, the local time each message
  // of the current window is stored under, and how far it got.
  const ImportOptions* import_ = nullptr;
  std::map<int, platform::LocalTime> message_times_;
  std::size_t listed_ = 0;
  std::size_t done_ = 0;
  // The logs of one list and second ("LKset\<list>\<second>_") this import
  // has read or written, for seconds that held logs when first met: each
  // content's hash to its log number, and the first number not taken. Every
  // log of such a second is read once per job.
  struct LogsOfSecond {
    std::unordered_map<std::size_t, int> by_content;
    int next_free = 1;
  };
  std::unordered_map<std::string, LogsOfSecond> logs_of_second_;
  // An import's logs whose pages are not written yet, by list (see
  // write_pages).
  SiteJob::LogsByList unpaged_logs_;
};

void ExtendedReceive::run() {
  job_.set_status(ReceiveStatus::kAuthenticating);
  const SourceOutcome opened = source_.open();
  if (job_.is_cancelled()) return;
  if (!opened.ok()) {
    if (source_.tls_failed()) {
      // No verified session to log in on: nothing of the account has left.
      job_.set_status(ReceiveStatus::kTlsFailed);
      job_.fail(opened.reason);
      job_.hold_status();
      return;
    }
    // As in the classic job: the failed login, then the session that could
    // not open, then the lists and an empty mailbox.
    job_.set_status(ReceiveStatus::kAuthFailed);
    job_.fail(opened.reason);
    job_.hold_status();
    if (job_.is_cancelled()) return;
    job_.set_status(ReceiveStatus::kSessionError);
  } else {
    job_.set_status(ReceiveStatus::kScanning);
    scan();
  }
  if (job_.is_cancelled()) return;

  if (!take_lists()) {
    if (job_.is_cancelled()) return;
    job_.set_status(ReceiveStatus::kDisconnecting);
    if (opened.ok()) source_.finish();
    return;
  }
  finish_stopped_job(job_);
  if (!state_.scanned.empty()) {
    sort();
    return;
  }
  forget_messages_gone(state_);  // an empty mailbox keeps no stored id
  job_.set_status(ReceiveStatus::kNoMail);
  job_.hold_status();
  if (job_.is_cancelled()) return;
  job_.set_status(ReceiveStatus::kDisconnecting);
  if (opened.ok()) source_.finish();
}

// The lists, in search order; sorting takes them from the last. False (after
// status kNoList and its pause) when there is none.
bool ExtendedReceive::take_lists() {
  state_.list_files = list_record_files();
  if (state_.list_files.size() > static_cast<std::size_t>(kMaxLists)) {
    state_.list_files.resize(kMaxLists);
  }
  if (!state_.list_files.empty()) return true;
  job_.set_status(ReceiveStatus::kNoList);
  job_.fail(status_text(ReceiveStatus::kNoList, {}));
  job_.hold_status();
  return false;
}

// The listing (ids and sizes), then the headers of every message whose id
// and size the scan cache does not know; their subjects go into the cache.
// Every message is kept. A source without ids is scanned whole, each message
// known by its Message-ID, and the job says so; a source that had ids before
// and has none now is not scanned at all, as its messages would be known by
// other ids and stored again.
void ExtendedReceive::scan() {
  std::vector<SourceEntry> entries;
  bool has_ids = true;
  int unreadable = 0;
  const SourceOutcome listed = source_.list(entries, has_ids, unreadable);
  if (!listed.ok()) {
    scan_failed(listed.result == SourceResult::kLost ? std::string() : listed.reason);
    return;
  }
  const ScanCache known = read_scan_cache(owner_);
  if (!has_ids && known.found && known.by_uidl) {
    scan_failed(platform::jp("サーバーがUIDLを拒否しました。前回まで使えたUIDLなしでは"
                             "受信済みのメールを見分けられないため、受信を中止しました"));
    return;
  }
  if (!has_ids) {
    show_notice(platform::jp("UIDL非対応のサーバーです。Message-IDで同じメールを見分けます"));
  }
  if (unreadable > 0) {
    show_notice(platform::jp("UIDLの一覧に読めない行が ") + std::to_string(unreadable) +
                platform::jp(" 行ありました。その行は飛ばしました"));
  }
  const bool same_ids = known.found && known.by_uidl == has_ids;

  std::vector<ScannedMessage> scanned;
  std::vector<SourceEntry> unknown;        // headers to read
  std::map<int, std::size_t> index_of;     // number -> index in scanned
  for (SourceEntry& entry : entries) {
    ScannedMessage message{entry.number, {}, std::move(entry.id), false, entry.size, {}};
    if (!usable_message_id(message.id)) message.id.clear();
    const auto cached = has_ids && same_ids && !message.id.empty() ? known.messages.find(message.id)
                                                                   : known.messages.end();
    if (cached != known.messages.end() && cached->second.size == message.size) {
      message.subject = cached->second.subject;
      message.seen_before = true;
    } else {
      unknown.push_back({message.number, {}, message.size});
      index_of[message.number] = scanned.size();
    }
    scanned.push_back(std::move(message));
  }

  // A message whose header block did not come is not kept.
  std::set<int> missing;
  for (const SourceEntry& entry : unknown) missing.insert(entry.number);
  bool complete = true;
  const SourceOutcome read = source_.headers(unknown, [&](SourceMessage& read) {
    const int number = read.number;
    const SourceOutcome& outcome = read.outcome;
    std::string& header = read.text;
    if (outcome.result == SourceResult::kRefused) {
      complete = false;
      scan_failed({});
      return !job_.is_cancelled();
    }
    // A header block past all bounds: the message is kept with an empty
    // subject (and no Message-ID), the scan goes on.
    if (outcome.result == SourceResult::kTooLong) header.clear();
    ScannedMessage& message = scanned[index_of[number]];
    message.subject = extended_subject(header);
    if (!header.empty()) message.fingerprint = message_fingerprint(header);
    if (std::string key(trim_blanks(header_field(header, "Message-ID"))); usable_message_id(key)) {
      message_ids_[number] = std::move(key);
    }
    if (!has_ids) {
      message.id = fallback_message_id(header);
      const auto before = same_ids ? known.messages.find(message.id) : known.messages.end();
      message.seen_before = before != known.messages.end() && before->second.size == message.size;
    }
    missing.erase(number);
    return !job_.is_cancelled();
  });
  if (job_.is_cancelled()) return;
  if (!read.ok()) {
    complete = false;
    scan_failed({});
  }
  std::erase_if(scanned, [&missing](const ScannedMessage& m) { return missing.count(m.number) != 0; });
  drop_ambiguous_ids(scanned);

  ScanCache cache;  // what the mailbox holds now
  cache.found = true;
  cache.by_uidl = has_ids;
  for (const ScannedMessage& message : scanned) {
    if (!message.id.empty()) cache.messages[message.id] = {message.size, message.subject};
  }
  // A scan cut short says nothing about the messages it did not reach: their
  // entries stay.
  if (!complete && same_ids) cache.messages.insert(known.messages.begin(), known.messages.end());
  write_scan_cache(owner_, cache);
  state_.scanned = std::move(scanned);
  state_.scan_complete = complete;
}

Planned ExtendedReceive::plan(const ScannedMessage& message) {
  Planned entry{message, {}, false, false, false, false, true};
  for (auto l = lists_.rbegin(); l != lists_.rend(); ++l) {
    if (import_) {
      // An import never deletes; with one list named, every message is its.
      if (!l->record ||
          (import_->only_list.empty() && !subject_matches(message.subject, l->record->search_text))) {
        continue;
      }
      entry.lists.push_back(&*l);
      if (imported_before(*l, message.id, message.fingerprint)) {
        entry.relies_on_earlier = true;
      } else {
        entry.work = true;
      }
      continue;
    }
    if (!l->record || !subject_matches(message.subject, l->record->search_text)) continue;
    entry.lists.push_back(&*l);
    const bool before = stored_before(*l, message) || keyed_before(*l, message, false);
    entry.relies_on_earlier = entry.relies_on_earlier || before;
    entry.deletes = entry.deletes || l->record->delete_from_server != 0;
    if (!before || l->record->delete_from_server != 0) entry.work = true;
  }
  return entry;
}

// A message to be deleted that some list stored before (and so gets no new
// log there): its headers on the server must be those stored. Those the
// scan did not read are read now, in one batch; headers that are not those
// the scan cache knew (an id given to other mail of the same size) also
// bring the subject the message is sorted by. False when the source is gone.
bool ExtendedReceive::verify_planned(std::vector<Planned>& planned) {
  std::vector<SourceEntry> unverified;
  std::map<int, Planned*> by_number;
  for (Planned& entry : planned) {
    if (entry.deletes && entry.relies_on_earlier && entry.message.fingerprint.empty()) {
      unverified.push_back({entry.message.number, {}, entry.message.size});
      by_number[entry.message.number] = &entry;
    }
  }
  std::set<int> unread;
  for (const SourceEntry& e : unverified) unread.insert(e.number);
  const SourceOutcome read = source_.headers(unverified, [&](SourceMessage& read) {
    const int number = read.number;
    const SourceOutcome& outcome = read.outcome;
    const std::string& header = read.text;
    if (!outcome.ok()) return !job_.is_cancelled();
    Planned& entry = *by_number[number];
    entry.message.fingerprint = message_fingerprint(header);
    if (std::string subject = extended_subject(header); subject != entry.message.subject) {
      ScannedMessage message = entry.message;
      message.subject = std::move(subject);
      message.seen_before = false;
      entry = plan(message);
      if (entry.lists.empty()) ++remaining_;
    }
    unread.erase(number);
    return !job_.is_cancelled();
  });
  // A message whose headers could not be read is left as it is: neither
  // stored again nor deleted.
  for (int number : unread) {
    by_number[number]->work = false;
    failed(status_text(ReceiveStatus::kReceiveFailed, {}));
  }
  std::erase_if(planned, [](const Planned& entry) { return !entry.work; });
  return read.result != SourceResult::kLost;
}

// Stores one fetched message for every matching list that lacks it. The logs
// are not forced to disk yet (store_batch does that for the whole batch).
void ExtendedReceive::store_message(Planned& entry, std::string& raw) {
  const ScannedMessage& message = entry.message;
  if (entry.message.fingerprint.empty()) entry.message.fingerprint = message_fingerprint(raw);
  const std::string message_text = extended_log_text(raw);
  // Every message a job stores is noted by its key too (an import's id is
  // its key already), so a later import knows it.
  const std::string key = import_ ? message.id : message_key(raw);
  bool stored_any = false;
  for (ListInJob* list : entry.lists) {
    if (job_.is_cancelled()) return;
    if (import_ ? imported_before(*list, key, message.fingerprint)
                : stored_before(*list, message, entry.deletes ? message.fingerprint : std::string_view()) ||
                      keyed_before(*list, message, entry.deletes)) {
      continue;
    }
    const std::string& name = list->name;
    progress(ReceiveStatus::kReceiving);
    prepare_list(job_, memory_, name);
    const auto time = message_times_.find(message.number);
    int first_number = log_number_ + 1;
    std::optional<StoredLog> log;
    std::string content;
    if (import_) {
      content = log_file_content(message.subject, message_text);
      log = log_left_unnoted(name, time->second, content, first_number);
    }
    const bool left_unnoted = log.has_value();
    if (!log) {
      log = store_job_log(job_, name, first_number, message.subject, message_text, false,
                          time != message_times_.end() ? &time->second : nullptr);
      if (log && import_) {
        const auto second = logs_of_second_.find(log->path.substr(0, log->path.rfind('_') + 1));
        if (second != logs_of_second_.end()) {
          second->second.by_content.emplace(std::hash<std::string>()(content), log->log_number);
          second->second.next_free = std::max(second->second.next_free, log->log_number + 1);
        }
      }
    }
    if (!log) {
      entry.stored_everywhere = false;
      continue;
    }
    stored_any = true;
    if (!import_) log_number_ = log->log_number;
    if (import_) ++state_.report.stored_per_list[name];
    batch_files_.push_back(log->path);
    // The log is written: only now is the message noted as stored, so a
    // kill in between stores it once more, never loses it. Both reach the
    // disk together at the end of the batch (store_batch), before any
    // deletion relies on them.
    const std::string log_name = log->path.substr(list_folder(name).size() + 1);
    if (!message.id.empty() && !import_) {
      const StoredMessage stored{message.size, message.fingerprint, log_name};
      stored_ids_of(*list)[message.id] = stored;
      list->ids_changed = true;
      if (!append_stored_id(name, message.id, stored)) {
        failed(platform::jp("受信済みの記録を書き込めませんでした: ") + list_folder(name));
      }
    }
    if (!note_key(*list, key, {log_name, message.fingerprint})) {
      failed(platform::jp("受信済みの記録を書き込めませんでした: ") + list_folder(name));
    }
    // A log an earlier job left has its page from finish_stopped_job. The
    // others get their pages, link lines and panel marks many logs at once
    // (write_pages): a receive's at the end of each batch, an import's as
    // each list's logs add up.
    if (!left_unnoted) unpaged_logs_[name].push_back(log->path);
  }
  // Stored in every list before, within this very import (the same message
  // twice in the files).
  if (import_ && !stored_any && entry.stored_everywhere) ++state_.report.already_stored;
}

// An import stopped after a message's log was written but before its key
// was noted leaves the log without its key; imported again, the message
// would be stored a second time. Its log has the very content `content` it
// would get now, under the same second (the message's own time): a log of
// that second with this content is the message's. Else `first_free` is the
// first free log number of that second.
std::optional<StoredLog> ExtendedReceive::log_left_unnoted(const std::string& list_name,
                                                           const platform::LocalTime& time,
                                                           const std::string& content, int& first_free) {
  const std::string folder = list_folder(list_name) + "\\";
  const std::string first_name = log_file_name(time, 1);
  const std::string second_key = folder + first_name.substr(0, first_name.rfind('_') + 1);
  // Only seconds that hold logs are remembered: a second without any (the
  // common case, each message with its own Date) costs one probe and no
  // memory, however many messages the import holds.
  auto known = logs_of_second_.find(second_key);
  if (known == logs_of_second_.end()) {
    if (!platform::can_read_file(folder + first_name)) {
      first_free = 1;
      return std::nullopt;
    }
    known = logs_of_second_.emplace(second_key, LogsOfSecond{}).first;
  }
  LogsOfSecond& second = known->second;
  for (;;) {
    const std::optional<std::string> there = platform::read_file(folder + log_file_name(time, second.next_free));
    if (!there) break;
    second.by_content.emplace(std::hash<std::string>()(*there), second.next_free);
    ++second.next_free;
  }
  first_free = second.next_free;
  const auto same = second.by_content.find(std::hash<std::string>()(content));
  if (same == second.by_content.end()) return std::nullopt;
  const std::string path = folder + log_file_name(time, same->second);
  if (platform::read_file(path) != content) return std::nullopt;
  return StoredLog{path, same->second};
}

// Whether a message of the mailbox is one the list holds by its key (stored
// from a file, or received under an id since forgotten): the same
// Message-ID and the same fingerprint of its headers; for a deletion its log
// must be there too, as for a message known by its id.
bool ExtendedReceive::keyed_before(ListInJob& list, const ScannedMessage& message, bool deleting) {
  const auto id = message_ids_.find(message.number);
  if (id == message_ids_.end() || message.fingerprint.empty()) return false;
  const StoredKeys& keys = stored_keys_of(list);
  const auto keyed = keys.find(id->second);
  if (keyed == keys.end() || keyed->second.fingerprint != message.fingerprint) return false;
  return !deleting || (!keyed->second.log.empty() &&
                       platform::can_read_file(list_folder(list.name) + "\\" + keyed->second.log));
}

// Notes `key` as stored for the list (after its log, as an id is).
bool ExtendedReceive::note_key(ListInJob& list, const std::string& key, const KeyedMessage& message) {
  read_keys_once(list, import_ != nullptr);
  if (!usable_message_id(key)) return true;
  if (import_) {
    list.key_names.insert(key);
  } else {
    list.keys[key] = message;
  }
  list.ids_changed = true;
  if (list.tail_torn) {
    list.tail_torn = false;
    if (!platform::append_to_file(stored_ids_path(list.name), "\n")) return false;
  }
  return append_stored_key(list.name, key, message);
}

// One batch: its messages fetched and stored, the logs forced to disk, the
// lists' ids written, then the deletions. False when the source is gone.
bool ExtendedReceive::store_batch(std::vector<Planned*>& batch) {
  std::vector<SourceEntry> wanted;
  std::map<int, Planned*> by_number;
  for (Planned* entry : batch) {
    by_number[entry->message.number] = entry;
    if (entry->fetch) wanted.push_back({entry->message.number, {}, entry->message.size});
  }
  std::set<int> unfetched;
  for (const SourceEntry& e : wanted) unfetched.insert(e.number);
  const SourceOutcome fetched = source_.fetch(wanted, [&](SourceMessage& fetched) {
    const int number = fetched.number;
    const SourceOutcome& outcome = fetched.outcome;
    std::string& raw = fetched.text;
    Planned& entry = *by_number[number];
    progress(ReceiveStatus::kSorting);
    if (import_ && !outcome.ok()) {
      // The source has said which message and why.
      ++state_.report.unreadable;
    } else if (outcome.result == SourceResult::kTooLong) {
      failed(too_big_reason(entry.message));
    } else if (!outcome.ok()) {
      failed(outcome.reason);
    } else {
      unfetched.erase(number);
      store_message(entry, raw);
    }
    return !job_.is_cancelled();
  });
  for (int number : unfetched) by_number[number]->stored_everywhere = false;
  if (fetched.result == SourceResult::kLost && !job_.is_cancelled()) {
    failed(fetched.reason);
  }

  // The batch's logs and the ids that note them go to disk together, before
  // any deletion: one pass over the file system instead of two forced
  // writes per message.
  for (ListInJob& list : lists_) {
    if (!list.ids_changed) continue;
    list.ids_changed = false;
    batch_files_.push_back(stored_ids_path(list.name));
  }
  write_pages(!import_);
  const bool durable = platform::force_to_disk(batch_files_);
  batch_files_.clear();
  if (!durable) {
    failed(platform::jp("ログファイルをディスクに書き込めませんでした"));
  }
  if (fetched.result == SourceResult::kLost) return false;
  if (job_.is_cancelled() || !durable) return true;

  std::vector<int> deletions;
  std::map<int, const Planned*> deleted_message;
  for (const Planned* entry : batch) {
    if (!entry->deletes || !entry->stored_everywhere) continue;
    deletions.push_back(entry->message.number);
    deleted_message[entry->message.number] = entry;
  }
  if (deletions.empty()) return true;
  deletion_asked_ = true;
  const SourceOutcome marked = source_.mark_deleted(deletions, [&](int number) {
    const ScannedMessage& message = deleted_message[number]->message;
    if (!message.id.empty()) deleted_ids_.insert(message.id);
  });
  // The logs stay: each message is noted as stored, so a later job deletes
  // it without storing it again.
  if (marked.result == SourceResult::kRefused) {
    failed(marked.reason);
  } else if (!marked.ok()) {
    failed(marked.reason);
    return false;
  }
  return true;
}

// Sorting: messages from the last scanned, lists in presentation order;
// each message stored at most once per list across jobs, fetched once for
// all its lists, in batches (see kBatchMessages); a message with nothing to
// do sets no status, so a mailbox kept on the server passes by quietly.
void ExtendedReceive::load_lists(bool make_folders) {
  for (const std::string& file : state_.list_files) {
    ListInJob list;
    list.name = list_name_of(file);
    if (make_folders) platform::create_folder(list_folder(list.name));
    // A record that cannot be read is skipped, as in the classic sorting.
    list.record = read_list(list.name);
    lists_.push_back(std::move(list));
  }
}

void ExtendedReceive::sort() {
  load_lists(true);

  std::vector<Planned> planned;
  for (auto m = state_.scanned.rbegin(); m != state_.scanned.rend(); ++m) {
    Planned entry = plan(*m);
    if (entry.lists.empty()) {
      if (!m->seen_before) ++remaining_;
      continue;
    }
    if (entry.work) planned.push_back(std::move(entry));
  }
  bool stopped = !verify_planned(planned);
  for (Planned& entry : planned) {
    for (ListInJob* list : entry.lists) {
      const std::string_view fingerprint = entry.deletes ? entry.message.fingerprint : std::string_view();
      if (!stored_before(*list, entry.message, fingerprint) && !keyed_before(*list, entry.message, entry.deletes)) {
        entry.fetch = true;
      }
    }
  }

  if (!stopped) stopped = !store_planned(planned);

  if (job_.is_cancelled()) return;
  forget_messages_gone(state_);
  finish(stopped);
  forget_scanned();
}

// The planned messages in batches (see kBatchMessages). False when the
// source is gone.
bool ExtendedReceive::store_planned(std::vector<Planned>& planned) {
  std::vector<Planned*> batch;
  std::size_t batch_bytes = 0;
  for (std::size_t i = 0; i < planned.size() && !job_.is_cancelled(); ++i) {
    Planned& entry = planned[i];
    batch.push_back(&entry);
    if (entry.fetch && entry.message.size > 0) batch_bytes += static_cast<std::size_t>(entry.message.size);
    const bool last = i + 1 == planned.size();
    if (!last && batch.size() < kBatchMessages && batch_bytes < kBatchBytes) continue;
    if (!store_batch(batch)) return false;
    batch.clear();
    batch_bytes = 0;
  }
  return true;
}

// The end of the session: at once when the source is gone; otherwise the
// other-mail notice when new messages matched no list, then finish, on which
// the source carries out the deletions. Without its confirmation nobody
// knows whether it did.
void ExtendedReceive::finish(bool stopped) {
  if (stopped) return;
  if (remaining_ > 0) show_notice(notice_text(remaining_));
  job_.set_status(ReceiveStatus::kDisconnecting);
  if (!source_.finish().ok() && deletion_asked_) {
    job_.fail(platform::jp("サーバーが切断（QUIT）に応答しなかったため、削除は確認できませんでした"));
  }
}

// The ids of messages this job deleted leave the scan cache: a server may
// give such an id to new mail, whose subject must then be read anew.
void ExtendedReceive::forget_scanned() {
  if (deleted_ids_.empty()) return;
  ScanCache cache = read_scan_cache(owner_);
  if (!cache.found) return;
  if (std::erase_if(cache.messages,
                    [this](const auto& entry) { return deleted_ids_.count(entry.first) != 0; })) {
    write_scan_cache(owner_, cache);
  }
}

// The outcome's reason for a message over the source's bound: which
// message, and why it stays on the server.
std::string ExtendedReceive::too_big_reason(const ScannedMessage& message) const {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::size_t bound = job_.client.max_reply_bytes;
  const std::string limit = bound % kMiB == 0 ? std::to_string(bound / kMiB) + "MB"
                                              : std::to_string(bound) + platform::jp("バイト");
  return platform::jp("メールが大きすぎるため受信できませんでした（") + limit +
         platform::jp("超、番号 ") + std::to_string(message.number) + platform::jp("、件名「") +
         message.subject + platform::jp("」）。サーバーに残しました");
}


// ------------------------------------------------------------------ import

// The counts so far, as the notice a progress dialog shows.
void ExtendedReceive::import_progress() {
  const ReceiveReport& report = state_.report;
  int stored = 0;
  for (const auto& [name, count] : report.stored_per_list) stored += count;
  // One line of the dialog: the counts that are not zero only.
  std::string text = platform::jp("取り込み中: ") + std::to_string(done_) + " / " +
                     std::to_string(listed_) + platform::jp(" 件（保存 ") + std::to_string(stored);
  if (report.already_stored > 0) text += platform::jp("、保存済み ") + std::to_string(report.already_stored);
  if (report.matched_no_list > 0) text += platform::jp("、該当なし ") + std::to_string(report.matched_no_list);
  if (report.unreadable > 0) text += platform::jp("、読めない ") + std::to_string(report.unreadable);
  state_.set_notice(text + platform::jp("）"));
  job_.set_status(ReceiveStatus::kNotice);
}

// A receive shows each step's status; an import shows its counts instead.
void ExtendedReceive::progress(ReceiveStatus status) {
  if (import_) {
    import_progress();
  } else {
    job_.set_status(status);
  }
}

// The pages and link lines of the logs stored so far, and the panel. With
// `all` (a receive's batch, the end of an import, a stop) every list's;
// otherwise (an import) each list's once its logs without pages are a
// batch, or a quarter of what this import stored for it, whichever is more
// (so that a link page of n links is rewritten about log n times in all,
// not n / 200 times). Each list folder keeps its pending mark until the job
// ends, so a kill before this leaves the next job to write them.
void ExtendedReceive::write_pages(bool all) {
  SiteJob::LogsByList due_logs;
  for (auto list = unpaged_logs_.begin(); list != unpaged_logs_.end();) {
    const std::size_t due = std::max<std::size_t>(
        kBatchMessages, static_cast<std::size_t>(state_.report.stored_per_list[list->first]) / 4);
    if (!all && list->second.size() < due) {
      ++list;
      continue;
    }
    due_logs.insert(unpaged_logs_.extract(list++));
  }
  if (due_logs.empty()) return;
  // Every due list in one site update: one hold of the site lock, one sort.
  const Outcome pages = memory_.site.logs_stored(due_logs);
  if (!pages.ok()) {
    job_.fail(pages.reason);
  }
  // The search index takes the same logs at once; a failure costs only the
  // search, which the next job or rebuild brings back in step.
  add_logs_to_search_index(due_logs);
  memory_.panel.refresh(job_.table);
}

void ExtendedReceive::run_import() {
  const ImportOptions& options = *import_;
  progress(ReceiveStatus::kScanning);
  if (!take_lists()) return;
  load_lists(!options.dry_run);
  if (!options.only_list.empty()) {
    std::erase_if(lists_, [&](const ListInJob& list) { return list.name != options.only_list; });
    if (lists_.empty() || !lists_.front().record) {
      job_.fail(platform::jp("リスト「") + options.only_list + platform::jp("」は登録されていません。"));
      return;
    }
  }
  if (!options.dry_run) finish_stopped_job(job_);

  const SourceOutcome opened = source_.open();
  if (!opened.ok()) {
    job_.fail(opened.reason);
    return;
  }
  std::vector<SourceEntry> entries;
  bool has_ids = true;
  int unreadable = 0;
  const SourceOutcome listed = source_.list(entries, has_ids, unreadable);
  state_.report.unreadable += unreadable;
  if (!listed.ok()) {
    job_.fail(listed.reason);
    return;
  }
  listed_ = entries.size();
  // Windows of a batch each: the header blocks read, sorted and stored
  // before the next, so memory holds one window whatever the files hold.
  for (std::size_t from = 0; from < entries.size() && !job_.is_cancelled(); from += kBatchMessages) {
    const std::size_t to = std::min(entries.size(), from + kBatchMessages);
    const std::vector<SourceEntry> window(entries.begin() + static_cast<std::ptrdiff_t>(from),
                                          entries.begin() + static_cast<std::ptrdiff_t>(to));
    if (!import_window(window)) break;
    // The window's keys live on in the lists' keys where stored: the
    // listing's copies go.
    for (std::size_t i = from; i < to; ++i) std::string().swap(entries[i].id);
    done_ = to;
    import_progress();
  }
  write_pages(true);
  if (job_.is_cancelled()) return;
  source_.finish();
}

// One window of the listing: its header blocks read, each message planned
// for its lists, then (unless a dry run) stored. False when the source is
// gone.
bool ExtendedReceive::import_window(const std::vector<SourceEntry>& window) {
  std::map<int, std::string> key_of;
  for (const SourceEntry& entry : window) key_of[entry.number] = entry.id;
  std::vector<ScannedMessage> scanned;
  message_times_.clear();
  const SourceOutcome read = source_.headers(window, [&](SourceMessage& read) {
    const int number = read.number;
    const SourceOutcome& outcome = read.outcome;
    const std::string& header = read.text;
    if (!outcome.ok()) {
      ++state_.report.unreadable;
      return !job_.is_cancelled();
    }
    ScannedMessage message{number, extended_subject(header), key_of[number], false, -1,
                           message_fingerprint(header)};
    // The log takes the message's own time: its Date in local time, else
    // the time the source holds for it, else now.
    std::optional<platform::LocalTime> time;
    if (const std::optional<std::int64_t> date = parse_mail_date(header_field(header, "Date"))) {
      time = platform::local_time_at(*date);
    }
    if (!time) time = source_.message_time(number);
    if (!time) time = job_.hooks.clock ? job_.hooks.clock() : platform::local_time();
    message_times_[number] = *time;
    scanned.push_back(std::move(message));
    return !job_.is_cancelled();
  });
  if (job_.is_cancelled()) return false;
  if (!read.ok()) {
    job_.fail(read.reason);
    return false;
  }

  std::vector<Planned> planned;
  for (const ScannedMessage& message : scanned) {
    Planned entry = plan(message);
    if (entry.lists.empty()) {
      ++state_.report.matched_no_list;
    } else if (!entry.work) {
      ++state_.report.already_stored;
    } else if (import_->dry_run) {
      // What a real import would store: each list lacking the key, the key
      // then known (the same message twice in the files counts once).
      for (ListInJob* list : entry.lists) {
        if (imported_keys_of(*list).insert(message.id).second) {
          ++state_.report.stored_per_list[list->name];
        }
      }
    } else {
      entry.fetch = true;
      planned.push_back(std::move(entry));
    }
  }
  return store_planned(planned);
}

}  // namespace

Message import_done_message(const ReceiveReport& report, int skipped_files,
                            const std::vector<std::string>& notes) {
  int stored = 0;
  for (const auto& [name, count] : report.stored_per_list) stored += count;
  std::string text = platform::jp("取り込みました。\n保存: ") + std::to_string(stored) +
                     platform::jp(" 件\n保存済みのため省略: ") + std::to_string(report.already_stored) +
                     platform::jp(" 件\n該当するリストなし: ") + std::to_string(report.matched_no_list) +
                     platform::jp(" 件\n読めないメール: ") + std::to_string(report.unreadable) +
                     platform::jp(" 件");
  if (skipped_files > 0) {
    text += platform::jp("\nメールでないファイル: ") + std::to_string(skipped_files) + platform::jp(" 個");
  }
  for (std::size_t i = 0; i < notes.size() && i < kImportNotesShown; ++i) text += "\n" + notes[i];
  if (notes.size() > kImportNotesShown) text += "\n...";
  if (!report.outcome.ok()) text += "\n" + report.outcome.reason;
  return Message{platform::jp("お知らせ"), text,
                 report.outcome.ok() ? MessageIcon::kInformation : MessageIcon::kWarning};
}

void import_extended(ReceiveJobContext& job, MailSource& source, const ImportOptions& options) {
  ExtendedReceive(job, source, options).run_import();
}

void receive_extended(ReceiveJobContext& job, const AccountRecord& account, MailSource& source) {
  ExtendedReceive(job, account, source).run();
}

}  // namespace larkspur
