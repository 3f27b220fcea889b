// The Windows program's process-wide state and its main window: the window
// procedure, the panel of list names and the six image buttons.
#pragma once

#include <windows.h>

#include <array>

#include "app/gdi.h"
#include "panel/list_panel.h"

namespace larkspur::app {

inline constexpr wchar_t kClassName[] = L"KumowareLKSFREE";
inline constexpr wchar_t kWindowTitle[] = L"Larkspur Free!";
inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The layout below is in pixels at 96 DPI; the window scales it to its DPI
// (app/dpi.h).
inline constexpr int kBackgroundWidth = 490;
inline constexpr int kBackgroundHeight = 287;
// The client area, fixed for the whole run: the background with a one-pixel
// white margin right and below. It is what the window's historical outer
// size of 497 x 313 leaves on the classic frame (a 3-pixel dialog frame and
// a 19-pixel caption), so there the window keeps that size, and on any other
// frame the outer size follows from the frame's metrics.
inline constexpr int kClientWidth = kBackgroundWidth + 1;
inline constexpr int kClientHeight = kBackgroundHeight + 1;

// The main window's outer size, frame and caption included, at `dpi`.
SIZE main_window_size(int dpi);

// The message the main window handles beyond the system's: puts the open
// progress dialog back above the main window.
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
  int dpi = 96;  // the main window's, updated when it moves to another monitor
  UniqueBitmap background;  // BACKBMP, loaded once at start-up
  std::array<UniqueBitmap, kButtonCount> up_faces;    // in kButtons order
  std::array<UniqueBitmap, kButtonCount> down_faces;
  ListPanelTable panel;  // the lists the window shows, refilled by the core
};
Shell& shell();
inline ListPanelTable& list_panel() { return shell().panel; }

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Paints the whole client area at once, outside a paint cycle: background,
// the up faces of every button and the names. Call on the UI thread after a
// change of lists, marks or pages.
void redraw_panel();

// The slot number (1 to 30) under the mouse cursor now, 0 for none.
int hit_test_panel();

}  // namespace larkspur::app
