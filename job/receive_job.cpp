#include "job/receive_job.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "job/extended_receive.h"
#include "job/mail_source.h"
#include "job/sort_and_store.h"
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
  if (status == static_cast<int>(ReceiveStatus::kNotice)) return std::string(notice);
  if (status < 0 || status > kMaxStatus) return {};
  return texts[static_cast<std::size_t>(status)];
}

void ReceiveJobContext::fail(std::string_view reason) { state.report.outcome.fail(std::string(reason)); }

void ReceiveJobContext::fail_with(ReceiveStatus status, std::string_view reason) {
  set_status(status);
  if (!is_cancelled()) fail(reason);
}

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

}  // namespace

// The status text can only say that the login failed; the outcome says what
// really happened.
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
  return status_text(ReceiveStatus::kAuthFailed, {});
}

namespace {

void scan_failed(ReceiveJobContext& job) {
  if (job.is_cancelled()) return;
  job.fail(platform::jp("メールボックスの検索が途中で失敗しました"));
}

// A job from reading the account to the end of its sorting; returns when the
// job is over.
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
    job.set_status(ReceiveStatus::kNoAccount);
    job.fail(status_text(ReceiveStatus::kNoAccount, {}));
    job.hold_status();
    return;
  }
  if (job.is_cancelled()) return;

  job.set_status(ReceiveStatus::kConnecting);
  if (pop3_init(client, account->server) != 1) {
    job.set_status(ReceiveStatus::kConnectError);
    job.fail(status_text(ReceiveStatus::kConnectError, {}));
    return;
  }
  if (job.is_cancelled()) return;

  // Extended mail handling: one session through the mail source from here on.
  state.extended_mail = (account->options & kAccountOptionExtendedMail) != 0;
  if (state.extended_mail) {
    const std::unique_ptr<MailSource> source =
        make_pop3_source(client, account->user_name, account->password);
    receive_extended(job, *account, *source);
    return;
  }
  const std::unique_ptr<MailSource> source =
      make_classic_pop3_source(client, account->user_name, account->password);

  job.set_status(ReceiveStatus::kAuthenticating);
  if (const SourceOutcome login = source->verify(); !login.ok()) {
    // A check cut short by a cancel says nothing about the credentials.
    if (job.is_cancelled()) return;
    if (source->tls_failed()) {
      // No verified session to log in on: the job ends like a failed
      // connection; nothing of the account has left. The reason goes with
      // the outcome for front ends that can show it.
      job.set_status(ReceiveStatus::kTlsFailed);
      job.fail(login.reason);
      job.hold_status();
      return;
    }
    // The job goes on: the scan finds no session to open and says so.
    job.set_status(ReceiveStatus::kAuthFailed);
    job.fail(login.reason);
    job.hold_status();
  }
  if (job.is_cancelled()) return;

  // The scan: every listed message is read with TOP; the first kMaxScanned
  // are kept.
  if (source->open().ok()) {
    job.set_status(ReceiveStatus::kScanning);
    std::vector<SourceEntry> listed;
    bool has_ids = false;
    int unreadable = 0;
    SourceOutcome scan = source->list(listed, has_ids, unreadable);
    if (scan.ok()) {
      scan = source->headers(listed, [&state](SourceMessage& message) {
        if (state.scanned.size() < static_cast<std::size_t>(kMaxScanned)) {
          state.scanned.push_back({message.number, std::move(message.subject), {}, false, -1, {}});
        }
        return true;
      });
    }
    if (!scan.ok()) scan_failed(job);
    source->finish();
  } else {
    source->finish();
    pop3_shutdown(client);
    if (job.is_cancelled()) return;
    job.set_status(ReceiveStatus::kSessionError);
    job.fail(status_text(ReceiveStatus::kSessionError, {}));
    state.scanned.clear();
  }
  if (job.is_cancelled()) return;

  // The lists, in search order; sorting takes them from the last.
  state.list_files = list_record_files();
  if (state.list_files.size() > static_cast<std::size_t>(kMaxLists)) {
    state.list_files.resize(kMaxLists);
  }
  if (state.list_files.empty()) {
    job.set_status(ReceiveStatus::kNoList);
    job.fail(status_text(ReceiveStatus::kNoList, {}));
    job.hold_status();
    if (job.is_cancelled()) return;
    job.set_status(ReceiveStatus::kDisconnecting);
    pop3_shutdown(client);
    return;
  }

  finish_stopped_job(job);
  if (!state.scanned.empty()) {
    sort_and_store(job, *source);
    return;
  }

  job.set_status(ReceiveStatus::kNoMail);
  job.hold_status();
  if (job.is_cancelled()) return;
  job.set_status(ReceiveStatus::kDisconnecting);
  source->finish();
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
                 MessageIcon::kWarning};
}

Message receive_cannot_start_message() {
  return Message{platform::jp("失敗"),
                 platform::jp("受信処理を開始できませんでした。\n"
                              "作業フォルダーに書き込めるか確かめてください。"),
                 MessageIcon::kWarning};
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
    if (self->context_.hooks.work) {
      self->context_.state.report = ReceiveReport{};
      self->context_.hooks.work(self->context_);
    } else {
      receive_worker(self->context_);
    }
    // The folder is free again before the job counts as done, so a front
    // end may start the next job right away.
    lock.reset();
    self->context_.state.job_running.store(false);
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

bool ReceiveJob::wait_for(int milliseconds) {
  std::unique_lock<std::mutex> guard(done_mutex_);
  return done_changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [this] { return done_; });
}

}  // namespace larkspur
