#include "app/progress_dialog.h"

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/dpi.h"
#include "app/gdi.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "platform/platform.h"
#include "resources/app/resource.h"
#include "retrieval/pop3_client.h"
#include "job/extended_receive.h"
#include "job/file_mail_source.h"
#include "job/receive_job.h"
#include "panel/list_panel.h"

namespace larkspur::app {
namespace {

constexpr UINT_PTR kAnimationTimer = 0x7FFF;
constexpr UINT kAnimationPeriodMs = 260;
constexpr int kFrameX = 30;
constexpr int kFrameY = 0;
constexpr int kFrameWidth = 260;
constexpr int kFrameHeight = 45;
constexpr std::array<const wchar_t*, 4> kFrameNames = {L"BMP01", L"BMP02", L"BMP03", L"BMP04"};
// How often a finished job's worker is looked for, to release it.
constexpr UINT kReapPeriodMs = 100;
// How long the end of the program waits for a cancelled worker.
constexpr int kExitWaitMs = 2000;
// Posted by the dialog to itself when no job could be started.
constexpr UINT kMsgJobRefused = WM_APP + 10;

// The open dialog's own state; lives from WM_INITDIALOG to WM_DESTROY.
struct DialogState {
  std::array<UniqueBitmap, 4> frames;
  int frame = 0;
  bool timer_running = false;
  std::wstring shown_status;
};

// The job and the dialog it reports to. The worker reads the dialog handle
// (to send WM_RECEIVE_DONE) while the window thread may clear it (cancel), so
// the handle is guarded; it is copied out before sending, never held across
// the send, as the window thread takes the same lock.
struct JobSlot {
  std::mutex dialog_mutex;
  HWND dialog = nullptr;
  std::unique_ptr<ReceiveJob> job;
  std::unique_ptr<DialogState> dialog_state;
  UINT_PTR reap_timer = 0;
  Message refusal;  // why the last job could not start
  ReceiveJobState state;  // what the dialog's timer shows
  std::vector<std::string> import_paths;  // the next dialog imports these (empty: a receive)
};

JobSlot& job_slot() {
  static JobSlot slot;
  return slot;
}

ReceiveJobState& receive_job_state() { return job_slot().state; }

Pop3Client& pop3_client() {
  static Pop3Client client;
  return client;
}

HWND current_dialog() {
  std::lock_guard lock(job_slot().dialog_mutex);
  return job_slot().dialog;
}

void set_current_dialog(HWND dialog) {
  std::lock_guard lock(job_slot().dialog_mutex);
  job_slot().dialog = dialog;
}

// Worker thread: the job's last act.
void signal_job_done() {
  if (HWND dialog = current_dialog()) SendMessageW(dialog, WM_RECEIVE_DONE, 0, 0);
}

// The work of an import job: the files through the file source, then the
// notice of what it did (not after a cancel). Runs on the worker thread.
std::function<void(ReceiveJobContext&)> import_work(std::vector<std::string> paths) {
  return [paths = std::move(paths)](ReceiveJobContext& job) {
    std::vector<std::string> notes;
    FileSourceCounts counts;
    const std::unique_ptr<MailSource> source = make_file_source(
        paths, [&notes](const std::string& line) { notes.push_back(line); }, &counts);
    import_extended(job, *source, ImportOptions{});
    if (job.is_cancelled()) {
      job.fail(platform::jp("取り込みを中止しました"));
      return;
    }
    job.ui.notify(import_done_message(job.state.report, counts.skipped_files, notes));
  };
}

// A job whose worker has ended is released on the window thread, off any
// message the worker may still be waiting for.
void CALLBACK reap_finished_job(HWND, UINT, UINT_PTR, DWORD) {
  JobSlot& slot = job_slot();
  if (slot.job && !slot.job->wait_for(0)) return;
  slot.job.reset();
  if (slot.reap_timer) KillTimer(nullptr, slot.reap_timer);
  slot.reap_timer = 0;
}

void watch_for_job_end() {
  JobSlot& slot = job_slot();
  if (!slot.reap_timer) slot.reap_timer = SetTimer(nullptr, 0, kReapPeriodMs, reap_finished_job);
}

bool job_running() {
  JobSlot& slot = job_slot();
  if (slot.job && slot.job->wait_for(0)) slot.job.reset();
  return slot.job != nullptr;
}

// True when top-level window `upper` lies above `lower` in the z-order.
bool lies_above(HWND upper, HWND lower) {
  for (HWND window = GetWindow(lower, GW_HWNDPREV); window; window = GetWindow(window, GW_HWNDPREV)) {
    if (window == upper) return true;
  }
  return false;
}

// An owned window belongs above its owner, but Wine sometimes lifts an
// activated owner over it. The dialog is then brought back to the top,
// without taking the focus. On Windows the owner never lies above it, so
// this does nothing there.
void keep_above_owner(HWND dialog) {
  HWND owner = shell().main_window;
  if (owner && lies_above(owner, dialog)) {
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

// Ends the dialog: the timer stops, the window goes, the panel shows what
// the job left.
void close_dialog(HWND dialog) {
  DialogState* state = job_slot().dialog_state.get();
  if (state && state->timer_running) {
    KillTimer(dialog, kAnimationTimer);
    state->timer_running = false;
  }
  set_current_dialog(nullptr);
  DestroyWindow(dialog);
  watch_for_job_end();
  redraw_panel();
}

// ------------------------------------------------------------ message handlers

INT_PTR on_init_dialog(HWND dialog) {
  JobSlot& slot = job_slot();
  slot.dialog_state = std::make_unique<DialogState>();
  DialogState& state = *slot.dialog_state;
  for (std::size_t i = 0; i < kFrameNames.size(); ++i) {
    state.frames[i] = load_bitmap(shell().instance, kFrameNames[i]);
  }
  set_current_dialog(dialog);

  ReceiveHooks hooks;
  hooks.job_done = signal_job_done;
  if (!slot.import_paths.empty()) hooks.work = import_work(std::move(slot.import_paths));
  slot.import_paths.clear();
  slot.job = ReceiveJob::start(receive_job_state(), pop3_client(), list_panel(), worker_ui(),
                               std::move(hooks), &slot.refusal);
  if (!slot.job) {
    // Another process runs a job in this folder, or none can start here: the
    // dialog goes and the refusal is said once it has gone.
    set_current_dialog(nullptr);
    PostMessageW(dialog, kMsgJobRefused, 0, 0);
    return FALSE;
  }
  if (SetTimer(dialog, kAnimationTimer, kAnimationPeriodMs, nullptr)) {
    state.timer_running = true;
  } else {
    // The job goes on without animation or status text.
    MessageBoxW(dialog, L"失敗", L"failure", MB_OK);
  }
  return FALSE;
}

INT_PTR on_timer(HWND dialog) {
  DialogState* state = job_slot().dialog_state.get();
  if (!state) return FALSE;
  {
    // Pixels at 96 DPI; the dialog itself grows with its font at other DPIs.
    const int dpi = window_dpi(dialog);
    WindowDc dc(dialog);
    draw_bitmap_scaled(dc.get(), state->frames[state->frame].get(), scale_to_dpi(kFrameX, dpi),
                       scale_to_dpi(kFrameY, dpi), scale_to_dpi(kFrameWidth, dpi),
                       scale_to_dpi(kFrameHeight, dpi));
  }
  state->frame = (state->frame + 1) % static_cast<int>(state->frames.size());
  keep_above_owner(dialog);
  // Set only when it changes, so the text does not flicker on every tick.
  const std::wstring text = platform::sjis_to_wide_display(status_text(receive_job_state()));
  if (text != state->shown_status) {
    SetDlgItemTextW(dialog, IDC_INFO_STATUS, text.c_str());
    state->shown_status = text;
  }
  return FALSE;
}

INT_PTR on_cancel(HWND dialog) {
  // The worker is not waited for: the cancel aborts its connection and it
  // stops at its next step, writing no further log.
  if (job_slot().job) job_slot().job->cancel();
  close_dialog(dialog);
  return TRUE;
}

INT_PTR on_receive_done(HWND dialog) {
  // The worker waits in SendMessage until this returns; it is released
  // later by the reaper. It has shut the client down already; shutting down
  // again changes nothing and keeps the client clean for the next job.
  pop3_shutdown(pop3_client());
  close_dialog(dialog);
  return FALSE;
}

INT_PTR on_job_refused(HWND dialog) {
  job_slot().job.reset();
  DestroyWindow(dialog);
  show_message_box(shell().main_window, job_slot().refusal, MB_OK);
  return FALSE;
}

INT_PTR on_destroy() {
  job_slot().dialog_state.reset();
  return FALSE;
}

INT_PTR CALLBACK receive_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return on_init_dialog(dialog);
    case WM_TIMER:
      return on_timer(dialog);
    case WM_COMMAND:
      // The cancel button, or Esc: the dialog manager turns Esc into the
      // command IDCANCEL, which is not the button's ID here.
      if ((LOWORD(wparam) == IDC_INFO_CANCEL || LOWORD(wparam) == IDCANCEL) &&
          HIWORD(wparam) == BN_CLICKED) {
        return on_cancel(dialog);
      }
      return FALSE;
    case WM_RECEIVE_DONE:
      return on_receive_done(dialog);
    case kMsgJobRefused:
      return on_job_refused(dialog);
    case WM_DESTROY:
      return on_destroy();
    default:
      return FALSE;
  }
}

// Opens the dialog, which starts the job (see on_init_dialog).
void open_progress_dialog() {
  HWND dialog = CreateDialogParamW(shell().instance, L"I_INFO_DIALOG", shell().main_window,
                                   receive_dialog_proc, 0);
  if (!dialog || !IsWindow(dialog) || !current_dialog()) return;
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  if (DialogState* state = job_slot().dialog_state.get()) state->frame = 0;
}

}  // namespace

void receive_command() {
  if (job_running()) {
    // The running job's dialog comes to the front; a cancelled job whose
    // worker has not ended yet has none, and the press is refused aloud.
    if (HWND dialog = current_dialog()) {
      SetForegroundWindow(dialog);
    } else {
      show_message_box(shell().main_window, receive_running_message(), MB_OK);
    }
    return;
  }
  open_progress_dialog();
}

void import_command(std::vector<std::string> paths) {
  if (job_running()) {
    show_message_box(shell().main_window, receive_running_message(), MB_OK);
    return;
  }
  job_slot().import_paths = std::move(paths);
  open_progress_dialog();
  job_slot().import_paths.clear();
}

void keep_progress_dialog_on_top() {
  if (HWND dialog = current_dialog()) keep_above_owner(dialog);
}

bool progress_dialog_message(MSG& message) {
  HWND dialog = current_dialog();
  return dialog && IsDialogMessageW(dialog, &message);
}

bool end_receive_job_at_exit() {
  JobSlot& slot = job_slot();
  if (!slot.job) return true;
  // The worker must not wait on a window that no longer answers.
  set_current_dialog(nullptr);
  slot.job->cancel();
  if (!slot.job->wait_for(kExitWaitMs)) {
    // Keep the worker's objects alive: the process ends around it.
    (void)slot.job.release();
    return false;
  }
  slot.job.reset();
  return true;
}

}  // namespace larkspur::app
