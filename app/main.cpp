// larkspur.exe: start-up and the message loop.
#include <windows.h>
#include <objbase.h>

#include "app/dpi.h"
#include "app/progress_dialog.h"
#include "app/shell.h"
#include "resources/app/resource.h"
#include "panel/list_panel.h"
#include "settings/store.h"
#include "site/site_lock.h"

namespace larkspur::app {
namespace {

// Ctrl+F opens the search page while the main window is the active one.
HACCEL search_accelerator() {
  static ACCEL keys[] = {{FCONTROL | FVIRTKEY, 'F', ID_CMD_SEARCH}};
  static HACCEL table = CreateAcceleratorTableW(keys, 1);
  return table;
}

void dispatch(MSG& message) {
  const HWND main_window = shell().main_window;
  if (main_window && GetActiveWindow() == main_window &&
      TranslateAcceleratorW(main_window, search_accelerator(), &message)) {
    return;
  }
  if (progress_dialog_message(message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

// Runs while this thread waits for the site lock (a rebuild waiting for a
// receive job's pages), so the window keeps painting and answering. A quit
// seen here is put back for the main loop.
void pump_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    dispatch(message);
  }
}

// The shell opens pages through COM on some systems, so the window's thread
// joins a single-threaded apartment for the program's life.
class ComScope {
 public:
  ComScope()
      : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComScope() { if (ok_) CoUninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool ok_;
};

bool register_main_class(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;  // no double clicks, no redraw on resize
  window_class.lpfnWndProc = main_window_proc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LARKSPUR));
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszClassName = kClassName;
  return RegisterClassExW(&window_class) != 0;
}

int run(HINSTANCE instance, int show_state) {
  // Another copy runs: end silently, leaving it as it is.
  if (FindWindowW(kClassName, kWindowTitle)) return 0;

  // Centred on the desktop; its right and bottom edges serve as its size.
  RECT desktop{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  // The window opens on the primary monitor, whose DPI is the system's; it
  // corrects its size itself should its monitor have another.
  const int dpi = system_dpi();
  const SIZE size = main_window_size(dpi);
  const int x = (desktop.right - size.cx) / 2;
  const int y = (desktop.bottom - size.cy) / 2;

  ComScope com;
  Shell& state = shell();
  state.instance = instance;
  if (!register_main_class(instance)) return 0;
  state.main_window = CreateWindowExW(0, kClassName, kWindowTitle, kWindowStyle, x, y,
                                      size.cx, size.cy, nullptr, nullptr, instance,
                                      nullptr);
  if (!state.main_window) return 1;

  create_working_folders();
  state.background = load_bitmap(instance, L"BACKBMP");
  refresh_list_panel(list_panel());
  set_site_lock_wait_hook(pump_messages);

  ShowWindow(state.main_window, show_state);
  UpdateWindow(state.main_window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) dispatch(message);
  set_site_lock_wait_hook({});
  const int exit_code = static_cast<int>(message.wParam);
  if (!end_receive_job_at_exit()) {
    // A worker stuck in a connection: end now, as the files it writes are
    // replaced whole or not at all, and nothing else needs saving.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
  }
  return exit_code;
}

}  // namespace
}  // namespace larkspur::app

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_state) {
  return larkspur::app::run(instance, show_state);
}
