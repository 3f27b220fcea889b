// Owners for the window system's drawing objects, so that every device
// context, bitmap and font the program makes is released on every path.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace larkspur::app {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { if (object) DeleteObject(object); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

// A bitmap resource of the program by name ("BACKBMP"); null when missing.
UniqueBitmap load_bitmap(HINSTANCE instance, const wchar_t* name);

// The device context of a window's client area, outside a paint cycle.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() { if (dc_) ReleaseDC(window_, dc_); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// One paint cycle (BeginPaint .. EndPaint).
class PaintCycle {
 public:
  explicit PaintCycle(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
  ~PaintCycle() { EndPaint(window_, &paint_); }
  PaintCycle(const PaintCycle&) = delete;
  PaintCycle& operator=(const PaintCycle&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// Selects an object into a device context and puts the previous one back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() { if (previous_) SelectObject(dc_, previous_); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Copies `bitmap` at its own size, or at `width` x `height` when given, to
// (x, y) of `target` through a memory device context.
void blit_bitmap(HDC target, HBITMAP bitmap, int x, int y, int width = 0, int height = 0);

// Draws the whole of `bitmap` into the rectangle (x, y, width, height) of
// `target`: a plain copy when the sizes agree, otherwise scaled with
// halftoning (averaged colours, so scaled artwork stays smooth).
void draw_bitmap_scaled(HDC target, HBITMAP bitmap, int x, int y, int width, int height);

}  // namespace larkspur::app
