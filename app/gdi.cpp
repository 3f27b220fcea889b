#include "app/gdi.h"

namespace larkspur::app {

UniqueBitmap load_bitmap(HINSTANCE instance, const wchar_t* name) {
  return UniqueBitmap(LoadBitmapW(instance, name));
}

void blit_bitmap(HDC target, HBITMAP bitmap, int x, int y, int width, int height) {
  if (!target || !bitmap) return;
  if (width <= 0 || height <= 0) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info)) return;
    width = info.bmWidth;
    height = info.bmHeight;
  }
  HDC memory = CreateCompatibleDC(target);
  if (!memory) return;
  {
    Selection selected(memory, bitmap);
    BitBlt(target, x, y, width, height, memory, 0, 0, SRCCOPY);
  }
  DeleteDC(memory);
}

void draw_bitmap_scaled(HDC target, HBITMAP bitmap, int x, int y, int width, int height) {
  if (!target || !bitmap || width <= 0 || height <= 0) return;
  BITMAP info{};
  if (!GetObjectW(bitmap, sizeof info, &info)) return;
  if (info.bmWidth == width && info.bmHeight == height) {
    blit_bitmap(target, bitmap, x, y, width, height);
    return;
  }
  HDC memory = CreateCompatibleDC(target);
  if (!memory) return;
  {
    Selection selected(memory, bitmap);
    const int previous_mode = SetStretchBltMode(target, HALFTONE);
    // HALFTONE wants the brush origin set again after the mode change.
    POINT previous_origin{};
    SetBrushOrgEx(target, 0, 0, &previous_origin);
    StretchBlt(target, x, y, width, height, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SetBrushOrgEx(target, previous_origin.x, previous_origin.y, nullptr);
    if (previous_mode) SetStretchBltMode(target, previous_mode);
  }
  DeleteDC(memory);
}

}  // namespace larkspur::app
