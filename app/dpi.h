// Dots per inch of the program's windows, and the scaling of the fixed
// layout: every position and size of the main window is written for 96 DPI
// (100 %) and scaled to the DPI of the monitor the window is on. At 96 DPI
// every function here returns its input, so nothing moves by a pixel.
//
// The functions that ask the system load what the running Windows offers
// (GetDpiForWindow and AdjustWindowRectExForDpi exist from Windows 10 1607
// on) and fall back to the system-wide DPI and AdjustWindowRectEx.
#pragma once

#include <windows.h>

namespace larkspur::app {

// The DPI the layout and the artwork are drawn for.
inline constexpr int kBaseDpi = 96;

// A length or position (not negative) of the 96-DPI layout at `dpi`, rounded
// to the nearest pixel, halves up (as MulDiv rounds).
inline constexpr int scale_to_dpi(int length, int dpi) {
  return static_cast<int>((static_cast<long long>(length) * dpi + kBaseDpi / 2) / kBaseDpi);
}

// A client coordinate at `dpi` back in 96-DPI units, rounded down, so that
// each 96-DPI pixel owns the device pixels that its scaled span covers.
inline constexpr int unscale_from_dpi(int coordinate, int dpi) {
  if (dpi <= 0) return coordinate;
  const long long scaled = static_cast<long long>(coordinate) * kBaseDpi;
  return static_cast<int>(scaled >= 0 ? scaled / dpi : -((-scaled + dpi - 1) / dpi));
}

// The arithmetic checked where it is written: at 96 DPI nothing changes; at
// 144 DPI the first column's hit area x 120..232 covers device pixels
// 180..349; a point left of the client area stays outside it.
static_assert(scale_to_dpi(497, 96) == 497 && unscale_from_dpi(313, 96) == 313);
static_assert(scale_to_dpi(73, 144) == 110 && scale_to_dpi(491, 144) == 737 &&
              scale_to_dpi(288, 192) == 576);
static_assert(unscale_from_dpi(180, 144) == 120 && unscale_from_dpi(179, 144) == 119 &&
              unscale_from_dpi(349, 144) == 232 && unscale_from_dpi(350, 144) == 233);
static_assert(unscale_from_dpi(-1, 144) == -1 && unscale_from_dpi(-1, 192) == -1);

// The DPI of `window`'s monitor; the system's DPI where the system cannot
// tell per window; kBaseDpi when nothing answers.
int window_dpi(HWND window);

// The system's DPI (the primary monitor's), for sizing a window before it
// exists.
int system_dpi();

// The outer size of a window with `style` and `ex_style` (no menu) whose
// client area is `client_width` x `client_height`, for the frame metrics of
// the running system at `dpi`.
SIZE outer_size_for_client(int client_width, int client_height, DWORD style, DWORD ex_style,
                           int dpi);

}  // namespace larkspur::app
