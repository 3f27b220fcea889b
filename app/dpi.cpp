#include "app/dpi.h"

namespace larkspur::app {
namespace {

// A function of user32 that older systems lack, or null.
template <typename Function>
Function user32_function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) return nullptr;
  // Through void(*)(): the one function pointer type GCC lets any other be
  // cast from without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForSystemFunction = UINT(WINAPI*)();
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

int screen_dpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return kBaseDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

}  // namespace

int window_dpi(HWND window) {
  static const auto get_dpi_for_window = user32_function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (get_dpi_for_window && window) {
    if (const UINT dpi = get_dpi_for_window(window)) return static_cast<int>(dpi);
  }
  return system_dpi();
}

int system_dpi() {
  static const auto get_dpi_for_system = user32_function<GetDpiForSystemFunction>("GetDpiForSystem");
  if (get_dpi_for_system) {
    if (const UINT dpi = get_dpi_for_system()) return static_cast<int>(dpi);
  }
  return screen_dpi();
}

SIZE outer_size_for_client(int client_width, int client_height, DWORD style, DWORD ex_style,
                           int dpi) {
  static const auto adjust_for_dpi =
      user32_function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, client_width, client_height};
  const bool adjusted =
      adjust_for_dpi ? adjust_for_dpi(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi)) != 0
                     : AdjustWindowRectEx(&rect, style, FALSE, ex_style) != 0;
  if (!adjusted) return SIZE{client_width, client_height};
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace larkspur::app
