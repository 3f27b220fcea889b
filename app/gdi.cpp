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

}  // namespace larkspur::app
