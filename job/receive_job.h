// The receive job: one run of mail retrieval on a worker thread. The worker
// reads the account, checks the credentials, scans the mailbox, finds the
// registered lists and hands over to sort_and_store (job/sort_and_store.h).
//
// The worker talks to its front end (the Windows progress dialog, the
// command-line tool, a test) only through ReceiveJobState, the injected
// ReceiveHooks and its UserInterface (for the window a PolledUserInterface,
// job/polled_ui.h); it shows nothing itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "retrieval/pop3_client.h"
#include "panel/list_panel.h"
#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

// Scanned messages kept for sorting; later ones are scanned but not kept.
// Extended mail handling (kAccountOptionExtendedMail) keeps them all.
inline constexpr int kMaxScanned = 100;

// The lock file that keeps a second job out of a working folder, also from
// another process. Its name matches none of the system's search patterns.
inline constexpr std::string_view kReceiveLockFile = "~receive.lock";

// Status codes of a job, in the order a job may set them; the values are
// those the progress dialog's table of texts is indexed by. kNone is the value
// before the first job and is never set.
enum class ReceiveStatus : int {
  kNone = 0,
  kConnecting = 1,       // before the client starts
  kConnectError = 2,    // socket library or server name failed
  kAuthenticating = 3,   // before the credential check
  kAuthFailed = 4,      // credential check failed
  kScanning = 5,         // scan connection open
  kSessionError = 6,    // scan connection failed
  kReceiving = 7,        // a message matched a list
  kReceiveFailed = 8,   // a retrieval, log write or deletion failed
  kDisconnecting = 9,    // before the final close
  kNoAccount = 10,      // no account record
  kNoMail = 11,         // nothing was scanned
  kNotice = 12,          // the other-mail notice is shown
  kNoList = 13,         // no list record
  kSorting = 14,         // start of each message while sorting
  kTlsFailed = 15,      // no verified TLS session (certificate, handshake, STLS)
};
inline constexpr int kMaxStatus = static_cast<int>(ReceiveStatus::kTlsFailed);

// How long the worker holds `status` before it sets the next one, so that the
// progress dialog's timer shows it; 0 for the statuses the job passes through.
constexpr int status_pause_ms(ReceiveStatus status) {
  switch (status) {
    case ReceiveStatus::kNoAccount:  // the job ends without connecting
      return 1200;
    case ReceiveStatus::kAuthFailed:  // the server refused the login,
    case ReceiveStatus::kTlsFailed:   // or no verified session could be opened
      return 1000;
    case ReceiveStatus::kNoMail:  // disconnecting follows
    case ReceiveStatus::kNoList:
      return 1200;
    case ReceiveStatus::kNotice:  // how many new messages there were past those kept
      return 1400;
    default:
      return 0;
  }
}

// One message of the scan: its POP3 number and decoded subject (Shift_JIS,
// kept whole however long). With extended mail handling also its id (see
// job/seen_messages.h; empty when the server gave none that is usable) and
// whether an earlier job scanned it already.
struct ScannedMessage {
  int number = 0;
  std::string subject;
  std::string id;
  bool seen_before = false;
  long long size = -1;  // octets, from LIST (extended mail handling); -1 unknown
  // message_fingerprint of the headers, when this scan read them (empty when
  // the subject came from the scan cache).
  std::string fingerprint;
};

// What went wrong during a job, beyond the status codes; read by front ends
// that report an outcome (the command-line tool's exit code) once the job is
// done.
struct ReceiveReport {
  // An import's counts (job/extended_receive.h): logs stored per list (with
  // a dry run: logs it would store), messages skipped as stored there
  // before, matching no list, and unreadable (the source says which).
  std::map<std::string, int> stored_per_list;
  int already_stored = 0;
  int matched_no_list = 0;
  int unreadable = 0;
  // What the job did: done, or failed with the first reason (Shift_JIS).
  // A cancelled job is failed as well.
  Outcome outcome;
};

// The state a job shares with its front end. The worker writes; the front end
// may read status() and notice() from any thread at any time. The notice is
// complete before status notice is set. Everything else is the worker's while a
// job runs and keeps its last value afterwards; nothing is reset between jobs.
class ReceiveJobState {
 public:
  ReceiveStatus status() const { return status_.load(std::memory_order_acquire); }
  void set_status(ReceiveStatus status) { status_.store(status, std::memory_order_release); }
  std::string notice() const;
  void set_notice(std::string notice);

  std::vector<ScannedMessage> scanned;   // scan order, at most kMaxScanned
  std::vector<std::string> list_files;   // "<name>.stf", search order, at most kMaxLists
  // The job's account asks for extended mail handling: scanned holds every
  // message of the mailbox with its id.
  bool extended_mail = false;
  // With extended mail handling: scanned holds the whole mailbox, so an id
  // missing from it is no longer on the server.
  bool scan_complete = false;
  ReceiveReport report;
  // Set while a job started with this state runs (its worker included), so
  // the front end that owns the state never starts a second one.
  std::atomic<bool> job_running{false};

 private:
  std::atomic<ReceiveStatus> status_{ReceiveStatus::kNone};
  mutable std::mutex notice_mutex_;
  std::string notice_;
};

// "注意": a receive job (or a cancelled job's worker) still runs in this
// working folder, in this process or another.
Message receive_running_message();
// "失敗": no job could start here (the working folder cannot be written).
Message receive_cannot_start_message();

// Why a login failed, for the job's outcome: what really happened (no
// connection, no answer, bare LF line ends), or the status text of a failed
// login.
std::string login_failure_reason(Pop3LoginFailure failure);

// The Shift_JIS text shown for `status`: the fixed text of codes 1 to 15,
// `notice` for 12, empty for 0 and any other value.
std::string status_text(int status, std::string_view notice);
inline std::string status_text(ReceiveStatus status, std::string_view notice) {
  return status_text(static_cast<int>(status), notice);
}
inline std::string status_text(const ReceiveJobState& state) {
  const ReceiveStatus status = state.status();
  return status_text(status, status == ReceiveStatus::kNotice ? state.notice() : std::string());
}

struct ReceiveJobContext;

// What the front end supplies. Every hook runs on the worker thread.
struct ReceiveHooks {
  // The job's work in place of a receive (an import: job/extended_receive.h),
  // run under the same hold on the working folder; empty: a receive.
  std::function<void(ReceiveJobContext& job)> work;
  // Waits `milliseconds`; empty: a real pause, cut short by a cancel.
  std::function<void(int milliseconds)> pause;
  // Called right after each status is set (repeats included), in order.
  std::function<void(ReceiveStatus status)> status_changed;
  // The local time used to name each log; empty: platform::local_time.
  std::function<platform::LocalTime()> clock;
};

// Everything one run of the worker works on. The references must outlive it.
struct ReceiveJobContext {
  ReceiveJobContext(ReceiveJobState& state, Pop3Client& client, ListPanelTable& table,
                    UserInterface& ui, ReceiveHooks hooks)
      : state(state), client(client), table(table), ui(ui), hooks(std::move(hooks)) {}

  ReceiveJobState& state;
  Pop3Client& client;
  ListPanelTable& table;  // refilled and marked while logs are stored
  UserInterface& ui;      // the size message of the list pages
  ReceiveHooks hooks;
  std::atomic<bool> cancelled{false};

  // Sets the status and tells the front end.
  void set_status(ReceiveStatus status);
  // The injected pause; skipped once cancelled.
  void pause(int milliseconds);
  // The pause of the status set last (status_pause_ms).
  void hold_status() { pause(status_pause_ms(state.status())); }
  // Records a failure of the job (the first reason is kept).
  void fail(std::string_view reason);
  // The one place a step of the job that failed is recorded: the status
  // (kReceiveFailed and the like) and, unless the job was cancelled (which
  // is its own reason), the failure.
  void fail_with(ReceiveStatus status, std::string_view reason);
  bool is_cancelled() const { return cancelled.load(std::memory_order_acquire); }
};

// The worker's steps, on the calling thread: account, connection, credential
// check, scan, lists, then sort_and_store when there is mail and a list. Once
// cancelled it stops at its next step: no further log, no pause. Always ends
// with pop3_shutdown. Takes no folder lock. Returns 0.
int receive_worker(ReceiveJobContext& context);

// A running job: its worker thread and its hold on the working folder.
class ReceiveJob {
 public:
  // Starts a job on a new thread in the current working folder. nullptr when
  // a job (or a cancelled job's worker) still runs there, in this process or
  // another, or the lock file cannot be made, or no thread can start; nothing
  // is started then, and `refusal` (when given) receives the notice that says
  // which.
  static std::unique_ptr<ReceiveJob> start(ReceiveJobState& state, Pop3Client& client,
                                           ListPanelTable& table, UserInterface& ui,
                                           ReceiveHooks hooks, Message* refusal = nullptr);

  // Waits for the worker to end.
  ~ReceiveJob();
  ReceiveJob(const ReceiveJob&) = delete;
  ReceiveJob& operator=(const ReceiveJob&) = delete;

  // Cancels from any thread: the worker stops at its next step, the open
  // connection is aborted (pop3_close, pop3_shutdown). Returns at once.
  void cancel();
  // Waits up to `milliseconds` for the worker to end; true when it ended.
  // wait_for(0) is the job's done flag: true once the worker has let go of
  // the folder and of every reference it was given.
  bool wait_for(int milliseconds);

 private:
  ReceiveJob(ReceiveJobState& state, Pop3Client& client, ListPanelTable& table,
             UserInterface& ui, ReceiveHooks hooks);

  ReceiveJobContext context_;
  std::mutex done_mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::thread worker_;
};

}  // namespace larkspur
