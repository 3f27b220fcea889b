#include "app/progress_dialog.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
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
#include "job/polled_ui.h"
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
// How often a job without a dialog (cancelled, its worker still ending) is
// looked at for its last notices and its end.
constexpr UINT kDetachedPollMs = 100;
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

// The job and its dialog, touched by the user-interface thread only. The
// worker writes the job's state and its requests, each synchronised by
// itself; this thread reads them on a timer (the dialog's, or the detached
// one while no dialog is open), shows what they hold and hands answers back.
struct Progress {
  ReceiveJobState state;
  PolledUserInterface requests;
  Pop3Client client;
  // After what it refers to, so that it goes first.
  std::unique_ptr<ReceiveJob> job;
  HWND dialog = nullptr;
  std::optional<DialogState> dialog_state;
  UINT_PTR detached_poll = 0;
  Message refusal;  // why the last job could not start
};

Progress& progress() {
  static Progress state;
  return state;
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
  Progress& state = progress();
  if (state.dialog_state && state.dialog_state->timer_running) {
    KillTimer(dialog, kAnimationTimer);
    state.dialog_state->timer_running = false;
  }
  state.dialog = nullptr;
  DestroyWindow(dialog);
  redraw_panel();
}

void CALLBACK on_detached_poll(HWND, UINT, UINT_PTR, DWORD);

// Keeps looking at a job whose dialog timer does not run.
void poll_detached() {
  Progress& state = progress();
  if (!state.detached_poll) state.detached_poll = SetTimer(nullptr, 0, kDetachedPollMs, on_detached_poll);
}

// The worker has ended: its dialog (if still open) closes, the job is
// released and the panel shows what it left.
void finish_job() {
  Progress& state = progress();
  // The worker has shut the client down already; shutting down again
  // changes nothing and keeps the client clean for the next job.
  pop3_shutdown(state.client);
  if (state.dialog) {
    close_dialog(state.dialog);
  } else {
    redraw_panel();
  }
  if (state.detached_poll) KillTimer(nullptr, state.detached_poll);
  state.detached_poll = 0;
  state.job.reset();
}

// What the worker left for this thread since the last look. Its question or
// notice is shown as a message box of the main window, and the answer goes
// back to the worker, which waits for it; a job whose worker has ended is
// finished. The timer goes on ticking inside the message box, and its ticks
// find the request taken, so nothing is shown twice; the dialog may be
// cancelled meanwhile, so nothing of it is touched after the box.
void poll_job() {
  Progress& state = progress();
  if (!state.job) return;
  if (const std::optional<PolledUserInterface::Request> request = state.requests.take_request()) {
    const int pressed = show_message_box(shell().main_window, request->message,
                                         request->question ? MB_YESNO : MB_OK);
    state.requests.answer(pressed == IDYES);
    return;
  }
  if (state.job->wait_for(0)) finish_job();
}

void CALLBACK on_detached_poll(HWND, UINT, UINT_PTR, DWORD) { poll_job(); }

bool job_running() {
  Progress& state = progress();
  if (state.job && state.job->wait_for(0)) finish_job();
  return state.job != nullptr;
}

// ------------------------------------------------------------ message handlers

INT_PTR on_init_dialog(HWND dialog, const std::vector<std::string>* import_paths) {
  Progress& progress_state = progress();
  DialogState& state = progress_state.dialog_state.emplace();
  for (std::size_t i = 0; i < kFrameNames.size(); ++i) {
    state.frames[i] = load_bitmap(shell().instance, kFrameNames[i]);
  }

  ReceiveHooks hooks;
  if (import_paths && !import_paths->empty()) hooks.work = import_work(*import_paths);
  progress_state.job = ReceiveJob::start(progress_state.state, progress_state.client, list_panel(),
                                         progress_state.requests, std::move(hooks),
                                         &progress_state.refusal);
  if (!progress_state.job) {
    // Another process runs a job in this folder, or none can start here: the
    // dialog goes and the refusal is said once it has gone.
    PostMessageW(dialog, kMsgJobRefused, 0, 0);
    return FALSE;
  }
  progress_state.dialog = dialog;
  if (SetTimer(dialog, kAnimationTimer, kAnimationPeriodMs, nullptr)) {
    state.timer_running = true;
  } else {
    // The job goes on without animation or status text; its notices and
    // its end are looked for all the same.
    MessageBoxW(dialog, L"失敗", L"failure", MB_OK);
    poll_detached();
  }
  return FALSE;
}

INT_PTR on_timer(HWND dialog) {
  if (!progress().dialog_state) return FALSE;
  DialogState& state = *progress().dialog_state;
  {
    // Pixels at 96 DPI; the dialog itself grows with its font at other DPIs.
    const int dpi = window_dpi(dialog);
    WindowDc dc(dialog);
    draw_bitmap_scaled(dc.get(), state.frames[state.frame].get(), scale_to_dpi(kFrameX, dpi),
                       scale_to_dpi(kFrameY, dpi), scale_to_dpi(kFrameWidth, dpi),
                       scale_to_dpi(kFrameHeight, dpi));
  }
  state.frame = (state.frame + 1) % static_cast<int>(state.frames.size());
  keep_above_owner(dialog);
  // Set only when it changes, so the text does not flicker on every tick.
  const std::wstring text = platform::sjis_to_wide_display(status_text(progress().state));
  if (text != state.shown_status) {
    SetDlgItemTextW(dialog, IDC_INFO_STATUS, text.c_str());
    state.shown_status = text;
  }
  poll_job();  // last: it may close the dialog
  return FALSE;
}

INT_PTR on_cancel(HWND dialog) {
  // The worker is not waited for: the cancel aborts its connection and it
  // stops at its next step, writing no further log. What it still has to
  // say (the pages of a log it had in hand) is shown until it ends.
  Progress& state = progress();
  if (state.job) state.job->cancel();
  close_dialog(dialog);
  if (state.job) poll_detached();
  return TRUE;
}

INT_PTR on_job_refused(HWND dialog) {
  DestroyWindow(dialog);
  show_message_box(shell().main_window, progress().refusal, MB_OK);
  return FALSE;
}

INT_PTR on_destroy() {
  progress().dialog_state.reset();
  return FALSE;
}

INT_PTR CALLBACK receive_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return on_init_dialog(dialog, reinterpret_cast<const std::vector<std::string>*>(lparam));
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
    case kMsgJobRefused:
      return on_job_refused(dialog);
    case WM_DESTROY:
      return on_destroy();
    default:
      return FALSE;
  }
}

// Opens the dialog, which starts the job (see on_init_dialog): an import of
// `import_paths`, or a receive when there are none.
void open_progress_dialog(const std::vector<std::string>* import_paths) {
  HWND dialog = CreateDialogParamW(shell().instance, L"I_INFO_DIALOG", shell().main_window,
                                   receive_dialog_proc, reinterpret_cast<LPARAM>(import_paths));
  if (!dialog || !IsWindow(dialog) || !progress().dialog) return;
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  if (progress().dialog_state) progress().dialog_state->frame = 0;
}

}  // namespace

void receive_command() {
  if (job_running()) {
    // The running job's dialog comes to the front; a cancelled job whose
    // worker has not ended yet has none, and the press is refused aloud.
    if (HWND dialog = progress().dialog) {
      SetForegroundWindow(dialog);
    } else {
      show_message_box(shell().main_window, receive_running_message(), MB_OK);
    }
    return;
  }
  open_progress_dialog(nullptr);
}

void import_command(std::vector<std::string> paths) {
  if (job_running()) {
    show_message_box(shell().main_window, receive_running_message(), MB_OK);
    return;
  }
  open_progress_dialog(&paths);
}

void keep_progress_dialog_on_top() {
  if (HWND dialog = progress().dialog) keep_above_owner(dialog);
}

bool progress_dialog_message(MSG& message) {
  HWND dialog = progress().dialog;
  return dialog && IsDialogMessageW(dialog, &message);
}

bool end_receive_job_at_exit() {
  Progress& state = progress();
  if (!state.job) return true;
  // Nobody answers any more: a worker waiting to be heard goes on at once.
  state.requests.close();
  state.job->cancel();
  if (!state.job->wait_for(kExitWaitMs)) {
    // Keep the worker's objects alive: the process ends around it.
    (void)state.job.release();
    return false;
  }
  state.job.reset();
  return true;
}

}  // namespace larkspur::app
