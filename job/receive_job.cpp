#include "job/receive_job.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <system_error>

#include "job/seen_messages.h"
#include "job/sort_and_store.h"
#include "retrieval/mime.h"
#include "settings/store.h"

namespace larkspur {

namespace {

// A real pause is slept in slices, so a cancelled job does not sit out the
// rest of its pause.
constexpr int kPauseSliceMs = 50;

}  // namespace

std::string ReceiveJobState::notice() const {
  std::lock_guard<std::mutex> lock(notice_mutex_);
  return notice_;
}

void ReceiveJobState::set_notice(std::string notice) {
  std::lock_guard<std::mutex> lock(notice_mutex_);
  notice_ = std::move(notice);
}

std::string status_text(int status, std::string_view notice) {
  // Converted once; the table is indexed by status code.
  static const std::vector<std::string> texts = {
      "",
      platform::jp("メールサーバーに接続中・・・"),
      platform::jp("メールサーバー接続開始エラー"),
      platform::jp("IDとパスワードの認証中・・・"),
      platform::jp("認証に失敗！設定を確認してみてください"),
      platform::jp("メールボックスを検索中・・・"),
      platform::jp("受信セッション開始エラー"),
      platform::jp("該当するメールを受信中・・・"),
      platform::jp("メールの受信に失敗しました"),
      platform::jp("メールサーバーから切断処理中・・・"),
      platform::jp("POP3設定ファイル読み込み失敗"),
      platform::jp("メールはありませんでした"),
      "",
      platform::jp("受信する登録リストがありません"),
      platform::jp("メールの振り分け処理中・・・"),
      platform::jp("サーバー証明書を確認できませんでした"),
  };
  if (status == static_cast<int>(ReceiveStatus::notice)) return std::string(notice);
  if (status < 0 || status > kMaxStatus) return {};
  return texts[static_cast<std::size_t>(status)];
}

void ReceiveJobContext::fail(std::string_view reason) { state.report.outcome.fail(std::string(reason)); }

void ReceiveJobContext::set_status(ReceiveStatus status) {
  state.set_status(status);
  if (hooks.status_changed) hooks.status_changed(status);
}

void ReceiveJobContext::pause(int milliseconds) {
  if (is_cancelled()) return;
  if (hooks.pause) {
    hooks.pause(milliseconds);
    return;
  }
  for (int left = milliseconds; left > 0 && !is_cancelled(); left -= kPauseSliceMs) {
    platform::sleep_ms(std::min(left, kPauseSliceMs));
  }
}

namespace {

// Whose mailbox the scan cache describes.
std::string scan_cache_owner(const AccountRecord& account) {
  return account.server + " " + account.user_name;
}

void scan_failed(ReceiveJobContext& job) {
  if (job.is_cancelled()) return;
  job.state.report.scan_failed = true;
  job.fail(platform::jp("メールボックスの検索が途中で失敗しました"));
}

// Says `text` in the progress dialog's notice line for a moment.
void show_notice(ReceiveJobContext& job, const std::string& text) {
  job.state.set_notice(text);
  job.set_status(ReceiveStatus::notice);
  job.pause(kNoticePauseMs);
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

// The scan of extended mail handling, on the open scan connection: UIDL gives
// every message with its id and LIST its size; only a message whose id and
// size the scan cache does not know is read with TOP (its subject then goes
// into the cache). Every message is kept. A server that refuses UIDL is
// scanned with LIST and TOP, each message known by its Message-ID, and the
// job says so in a notice; a server that had UIDL before and refuses it now
// is not scanned at all, as its messages would be known by other ids.
void scan_extended(ReceiveJobContext& job, const AccountRecord& account) {
  ReceiveJobState& state = job.state;
  Pop3Client& client = job.client;
  const std::string owner = scan_cache_owner(account);
  state.scan_cache_owner = owner;
  const ScanCache known = read_scan_cache(owner);
  std::vector<Pop3UniqueId> listing;
  const int listed = pop3_unique_ids(client, listing);
  if (listed == -1) {
    scan_failed(job);
    return;
  }
  const bool by_uidl = listed == 1;
  if (!by_uidl && known.found && known.by_uidl) {
    state.report.scan_failed = true;
    job.fail(platform::jp("サーバーがUIDLを拒否しました。前回まで使えたUIDLなしでは"
                          "受信済みのメールを見分けられないため、受信を中止しました"));
    return;
  }
  std::vector<Pop3ListEntry> sizes;
  if (job.is_cancelled() || pop3_list_sizes(client, sizes) != 1) {
    scan_failed(job);
    return;
  }
  std::map<int, long long> size_of;
  for (const Pop3ListEntry& entry : sizes) size_of.emplace(entry.number, entry.size);
  if (!by_uidl) {
    state.report.uidl_unsupported = true;
    show_notice(job, platform::jp("UIDL非対応のサーバーです。Message-IDで同じメールを見分けます"));
    for (const Pop3ListEntry& entry : sizes) listing.push_back({entry.number, {}});
  } else {
    // A UIDL line that names no message of the listing (no number, or one
    // LIST does not know, or one named before) says nothing usable: it is
    // skipped, the others are scanned, and the job says so once.
    std::set<int> named;
    const auto unusable = [&](const Pop3UniqueId& entry) {
      return !size_of.count(entry.number) || !named.insert(entry.number).second;
    };
    const std::size_t before = listing.size();
    std::erase_if(listing, unusable);
    if (const std::size_t skipped = before - listing.size(); skipped > 0) {
      show_notice(job, platform::jp("UIDLの一覧に読めない行が ") + std::to_string(skipped) +
                           platform::jp(" 行ありました。その行は飛ばしました"));
    }
  }

  ScanCache cache;  // what the mailbox holds now
  cache.by_uidl = by_uidl;
  const bool same_ids = known.found && known.by_uidl == by_uidl;
  bool complete = true;
  std::string header;
  for (Pop3UniqueId& entry : listing) {
    if (job.is_cancelled()) return;
    ScannedMessage message{entry.number, {}, std::move(entry.uid), false, size_of[entry.number], {}};
    if (!usable_message_id(message.id)) message.id.clear();
    const auto cached =
        by_uidl && same_ids && !message.id.empty() ? known.messages.find(message.id) : known.messages.end();
    if (cached != known.messages.end() && cached->second.size == message.size) {
      message.subject = cached->second.subject;
      message.seen_before = true;
    } else {
      const int read = pop3_header_block(client, message.number, header);
      if (read == kReplyTooLong) {
        // A header block past all bounds: the message is kept with an empty
        // subject (and no Message-ID), the scan goes on.
        header.clear();
      } else if (read != 1) {
        scan_failed(job);
        complete = false;
        break;
      }
      message.subject = extended_subject(header);
      if (!header.empty()) message.fingerprint = message_fingerprint(header);
      if (!by_uidl) {
        message.id = fallback_message_id(header);
        const auto before = same_ids ? known.messages.find(message.id) : known.messages.end();
        message.seen_before = before != known.messages.end() && before->second.size == message.size;
      }
    }
    state.scanned.push_back(std::move(message));
  }
  drop_ambiguous_ids(state.scanned);
  for (const ScannedMessage& message : state.scanned) {
    if (!message.id.empty()) cache.messages[message.id] = {message.size, message.subject};
  }
  // A scan cut short says nothing about the messages it did not reach: their
  // entries stay.
  if (!complete && same_ids) cache.messages.insert(known.messages.begin(), known.messages.end());
  cache.found = true;
  write_scan_cache(owner, cache);
  state.scan_complete = complete;
}

// The reason a login failed, for the outcome: what really happened, where
// the status text can only say that the login failed.
std::string login_failure_reason(Pop3LoginFailure failure) {
  switch (failure) {
    case Pop3LoginFailure::kNoConnection:
      return platform::jp("メールサーバーに接続できませんでした");
    case Pop3LoginFailure::kNoAnswer:
      return platform::jp("メールサーバーが応答しませんでした");
    case Pop3LoginFailure::kBareLineFeeds:
      return platform::jp("メールサーバーの応答の行末がCR LFではありません（LFのみ）。"
                          "POP3サーバーではないか、設定が違います");
    case Pop3LoginFailure::kNone:
    case Pop3LoginFailure::kRefused:
    case Pop3LoginFailure::kTls:
      break;
  }
  return status_text(ReceiveStatus::auth_failed, {});
}

// Steps 2 to 7 of a job; returns when the job is over (step 8 is the caller's).
void run_job(ReceiveJobContext& job) {
  ReceiveJobState& state = job.state;
  Pop3Client& client = job.client;
  state.report = ReceiveReport{};

  // The account: the first record file the search finds.
  state.scanned.clear();
  state.extended_mail = false;
  state.scan_complete = false;
  const std::optional<AccountRecord> account = read_first_account();
  if (!account) {
    job.set_status(ReceiveStatus::no_account);
    job.fail(status_text(ReceiveStatus::no_account, {}));
    job.pause(kNoAccountPauseMs);
    return;
  }
  if (job.is_cancelled()) return;

  job.set_status(ReceiveStatus::connecting);
  if (pop3_init(client, account->server) != 1) {
    job.set_status(ReceiveStatus::connect_error);
    job.fail(status_text(ReceiveStatus::connect_error, {}));
    return;
  }
  if (job.is_cancelled()) return;

  job.set_status(ReceiveStatus::authenticating);
  if (pop3_verify_login(client, account->user_name, account->password) != 1) {
    // A check cut short by a cancel says nothing about the credentials.
    if (job.is_cancelled()) return;
    if (pop3_tls_failure(client) != Pop3TlsFailure::kNone) {
      // No verified session to log in on: the job ends like a failed
      // connection; nothing of the account has left. The reason goes with
      // the outcome for front ends that can show it.
      job.set_status(ReceiveStatus::tls_failed);
      job.fail(status_text(ReceiveStatus::tls_failed, {}) + " (" +
               std::string(pop3_tls_failure_reason(pop3_tls_failure(client))) + ")");
      job.pause(kLoginFailedPauseMs);
      return;
    }
    job.set_status(ReceiveStatus::auth_failed);
    job.fail(login_failure_reason(pop3_login_failure(client)));
    job.pause(kLoginFailedPauseMs);
  }
  if (job.is_cancelled()) return;

  // The scan: every listed message is read with TOP; the first kMaxScanned
  // are kept. Extended mail handling scans its own way (scan_extended) and
  // keeps the scan's session open for the sorting: the server locks the
  // mailbox for a session, so the numbers the scan saw still name the same
  // messages when they are retrieved and deleted, whatever another client
  // does meanwhile.
  state.extended_mail = (account->options & kAccountOptionExtendedMail) != 0;
  if (pop3_open(client) == 1) {
    job.set_status(ReceiveStatus::scanning);
    if (state.extended_mail) {
      scan_extended(job, *account);
    } else {
      for (;;) {
        const int step = pop3_next_message(client);
        if (step != 1) {
          if (step == -1) scan_failed(job);
          break;
        }
        if (state.scanned.size() < static_cast<std::size_t>(kMaxScanned)) {
          state.scanned.push_back(
              {pop3_current_number(client), pop3_current_subject(client), {}, false, -1, {}});
        }
      }
      pop3_close(client);
    }
  } else {
    pop3_close(client);
    pop3_shutdown(client);
    if (job.is_cancelled()) return;
    job.set_status(ReceiveStatus::session_error);
    job.fail(status_text(ReceiveStatus::session_error, {}));
    state.scanned.clear();
  }
  if (job.is_cancelled()) return;

  // The lists, in search order; sorting takes them from the last.
  state.list_files = list_record_files();
  if (state.list_files.size() > static_cast<std::size_t>(kMaxLists)) {
    state.list_files.resize(kMaxLists);
  }
  if (state.list_files.empty()) {
    job.set_status(ReceiveStatus::no_list);
    job.fail(status_text(ReceiveStatus::no_list, {}));
    job.pause(kNoListPauseMs);
    if (job.is_cancelled()) return;
    job.set_status(ReceiveStatus::disconnecting);
    if (state.extended_mail) pop3_close(client);
    pop3_shutdown(client);
    return;
  }

  if (!state.scanned.empty()) {
    sort_and_store(job);
    return;
  }

  forget_messages_gone(state);  // an empty mailbox keeps no stored id
  job.set_status(ReceiveStatus::no_mail);
  job.pause(kNoMailPauseMs);
  if (job.is_cancelled()) return;
  job.set_status(ReceiveStatus::disconnecting);
  pop3_close(client);
  pop3_shutdown(client);
}

}  // namespace

int receive_worker(ReceiveJobContext& context) {
  run_job(context);
  if (context.is_cancelled()) context.fail(platform::jp("受信を中止しました"));
  // Whatever path the job took, the client is left uninitialised, so the next
  // job can start it again even if a front end forgets its own shutdown.
  pop3_shutdown(context.client);
  return 0;
}

// ----------------------------------------------------------------- ReceiveJob

ReceiveJob::ReceiveJob(ReceiveJobState& state, Pop3Client& client, ListPanelTable& table,
                       UserInterface& ui, ReceiveHooks hooks)
    : context_(state, client, table, ui, std::move(hooks)) {}

Message receive_running_message() {
  return Message{platform::jp("注意"),
                 platform::jp("このフォルダーでは受信処理が実行中です。\n"
                              "終わってから、もう一度実行してください。"),
                 MessageIcon::warning};
}

Message receive_cannot_start_message() {
  return Message{platform::jp("失敗"),
                 platform::jp("受信処理を開始できませんでした。\n"
                              "作業フォルダーに書き込めるか確かめてください。"),
                 MessageIcon::warning};
}

std::unique_ptr<ReceiveJob> ReceiveJob::start(ReceiveJobState& state, Pop3Client& client,
                                              ListPanelTable& table, UserInterface& ui,
                                              ReceiveHooks hooks, Message* refusal) {
  const auto refuse = [refusal](Message message) -> std::unique_ptr<ReceiveJob> {
    if (refusal) *refusal = std::move(message);
    return nullptr;
  };
  bool expected = false;
  if (!state.job_running.compare_exchange_strong(expected, true)) {
    return refuse(receive_running_message());
  }
  std::unique_ptr<platform::FileLock> lock = platform::try_lock_file(kReceiveLockFile);
  if (!lock) {
    state.job_running.store(false);
    // The lock file stays after every job, so when it is there another
    // holder has it; when it could not even be made, the folder is closed
    // to writing. It is looked for, not opened: on Windows the holder keeps
    // it open unshared, so no other process can open it even to read.
    return refuse(platform::any_file_matches(kReceiveLockFile) ? receive_running_message()
                                                              : receive_cannot_start_message());
  }
  std::unique_ptr<ReceiveJob> job(new ReceiveJob(state, client, table, ui, std::move(hooks)));
  ReceiveJob* self = job.get();
  auto run = [self, lock = std::move(lock)]() mutable {
    receive_worker(self->context_);
    // The folder is free again before anyone hears that the job is done, so a
    // front end may start the next job right away.
    lock.reset();
    self->context_.state.job_running.store(false);
    if (self->context_.hooks.job_done) self->context_.hooks.job_done();
    {
      std::lock_guard<std::mutex> guard(self->done_mutex_);
      self->done_ = true;
    }
    self->done_changed_.notify_all();
  };
  try {
    self->worker_ = std::thread(std::move(run));
  } catch (const std::system_error&) {
    // No thread: no job, and the folder stays free.
    state.job_running.store(false);
    return refuse(receive_cannot_start_message());
  }
  return job;
}

ReceiveJob::~ReceiveJob() {
  if (worker_.joinable()) worker_.join();
}

void ReceiveJob::cancel() {
  context_.cancelled.store(true, std::memory_order_release);
  pop3_close(context_.client);
  pop3_shutdown(context_.client);
}

bool ReceiveJob::done() const {
  std::lock_guard<std::mutex> guard(done_mutex_);
  return done_;
}

bool ReceiveJob::wait_for(int milliseconds) {
  std::unique_lock<std::mutex> guard(done_mutex_);
  return done_changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [this] { return done_; });
}

void ReceiveJob::wait() {
  std::unique_lock<std::mutex> guard(done_mutex_);
  done_changed_.wait(guard, [this] { return done_; });
}

}  // namespace larkspur
