// The Windows program's process-wide state and its main window: the window
// procedure, the panel of list names and the six image buttons.
#pragma once

#include <windows.h>

#include <array>

#include "app/gdi.h"

namespace larkspur::app {

inline constexpr wchar_t kClassName[] = L"KumowareLKSFREE";
inline constexpr wchar_t kWindowTitle[] = L"Larkspur Free!";
// Outer size of the main window, frame and caption included, for the whole run.
inline constexpr int kWindowWidth = 497;
inline constexpr int kWindowHeight = 313;
inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

inline constexpr int kBackgroundWidth = 490;
inline constexpr int kBackgroundHeight = 287;

// Messages the main window handles beyond the system's.
// A question or notice from another thread: lParam points to a Message, the
// result is 1 for Yes (see WorkerUserInterface).
inline constexpr UINT kMsgConfirm = WM_APP + 1;
inline constexpr UINT kMsgNotify = WM_APP + 2;
// Puts the open progress dialog back above the main window.
inline constexpr UINT kMsgRaiseProgress = WM_APP + 3;

// One image button of the main window.
struct ButtonSpec {
  int id;
  int x, y, width, height;
  const wchar_t* up_face;
  const wchar_t* down_face;
};
inline constexpr int kButtonCount = 6;
// In creation order.
extern const std::array<ButtonSpec, kButtonCount> kButtons;

struct Shell {
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;
  UniqueBitmap background;  // BACKBMP, loaded once at start-up
  std::array<UniqueBitmap, kButtonCount> up_faces;    // in kButtons order
  std::array<UniqueBitmap, kButtonCount> down_faces;
};
Shell& shell();

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Paints the whole client area at once, outside a paint cycle: background,
// the up faces of every button and the names. Call on the UI thread after a
// change of lists, marks or pages.
void redraw_panel();

// The slot number (1 to 30) under the mouse cursor now, 0 for none.
int hit_test_panel();

}  // namespace larkspur::app
