// The main window: a switch over the messages, one named function each.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "app/dpi.h"
#include "app/panel_layout.h"
#include "app/progress_dialog.h"
#include "app/shell.h"
#include "platform/platform.h"
#include "resources/app/resource.h"
#include "panel/list_panel.h"
#include "panel/open_list_page.h"

namespace larkspur::app {

const std::array<ButtonSpec, kButtonCount> kButtons = {{
    {ID_CMD_RECEIVE, 202, 244, 179, 35, L"BTNche1UP", L"BTNche1DOWN"},
    {ID_CMD_ACCOUNT, 8, 30, 73, 20, L"BTNpop1UP", L"BTNpop1DOWN"},
    {ID_CMD_LISTS, 8, 70, 73, 20, L"BTNlis1UP", L"BTNlis1DOWN"},
    {ID_CMD_REBUILD, 8, 110, 73, 20, L"BTNbui1UP", L"BTNbui1DOWN"},
    {ID_CMD_DELETE_LOGS, 8, 150, 73, 20, L"BTNdel1UP", L"BTNdel1DOWN"},
    {ID_CMD_HELP, 2, 252, 32, 30, L"BTNhel1UP", L"BTNhel1DOWN"},
}};

Shell& shell() {
  static Shell state;
  return state;
}

SIZE main_window_size(int dpi) {
  return outer_size_for_client(scale_to_dpi(kClientWidth, dpi), scale_to_dpi(kClientHeight, dpi),
                               kWindowStyle, 0, dpi);
}

namespace {

// Name colours: dark blue text on white, a marked list on light green.
constexpr COLORREF kNameText = RGB(0, 0, 120);
constexpr COLORREF kNameGround = RGB(255, 255, 255);
constexpr COLORREF kMarkedGround = RGB(88, 247, 145);
constexpr int kNameFontHeight = 14;

int button_index(int id) {
  for (int i = 0; i < kButtonCount; ++i) {
    if (kButtons[i].id == id) return i;
  }
  return -1;
}

UniqueFont create_name_font(int dpi) {
  return UniqueFont(CreateFontW(scale_to_dpi(kNameFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE,
                                FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                PROOF_QUALITY, FIXED_PITCH | FF_MODERN, L"ＭＳ ゴシック"));
}

// Background and names; the buttons are left to the caller.
void draw_background_and_names(HDC dc) {
  const int dpi = shell().dpi;
  draw_bitmap_scaled(dc, shell().background.get(), 0, 0, scale_to_dpi(kBackgroundWidth, dpi),
                     scale_to_dpi(kBackgroundHeight, dpi));
  SetTextColor(dc, kNameText);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, kNameGround);
  UniqueFont font = create_name_font(dpi);
  Selection selected_font(dc, font.get());
  const ListPanelTable::Slots slots = list_panel().snapshot();
  for (int i = 0; i < kMaxLists; ++i) {
    const std::string& name = slots[i].list_name;
    if (name.empty()) continue;
    // The stored name is Shift_JIS; its first bytes are drawn through UTF-16
    // so Japanese shows whatever the system's code page is.
    const std::wstring shown =
        platform::sjis_to_wide_display(std::string_view(name).substr(0, kShownNameBytes));
    const int length = static_cast<int>(shown.size());
    const int x = scale_to_dpi(text_x(i), dpi);
    const int y = scale_to_dpi(text_y(i), dpi);
    TextOutW(dc, x, y, shown.c_str(), length);
    if (slots[i].new_mail != 0) {
      SetBkColor(dc, kMarkedGround);
      TextOutW(dc, x, y, shown.c_str(), length);
      SetBkColor(dc, kNameGround);
    }
  }
}

// A button's rectangle in the client area at `dpi`.
RECT button_rect(const ButtonSpec& button, int dpi) {
  const int left = scale_to_dpi(button.x, dpi);
  const int top = scale_to_dpi(button.y, dpi);
  return RECT{left, top, left + scale_to_dpi(button.width, dpi),
              top + scale_to_dpi(button.height, dpi)};
}

// Moves the window to (x, y) at its fixed size for its DPI. The guard stops
// the move's own size message from moving it again.
void place_window(HWND window, int x, int y) {
  static bool moving = false;
  if (moving) return;
  const SIZE size = main_window_size(shell().dpi);
  moving = true;
  MoveWindow(window, x, y, size.cx, size.cy, TRUE);
  moving = false;
}

// --------------------------------------------------------- message handlers

LRESULT on_create(HWND window) {
  Shell& state = shell();
  DragAcceptFiles(window, TRUE);  // files dropped on the window are imported
  state.dpi = window_dpi(window);
  for (int i = 0; i < kButtonCount; ++i) {
    const ButtonSpec& button = kButtons[i];
    state.up_faces[i] = load_bitmap(state.instance, button.up_face);
    state.down_faces[i] = load_bitmap(state.instance, button.down_face);
    const RECT rect = button_rect(button, state.dpi);
    CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_OWNERDRAW,
                    rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)), state.instance,
                    nullptr);
  }
  // The search page has no button (the six and their layout stay): it is an
  // item of the system menu, and Ctrl+F (see the message loop).
  if (HMENU menu = GetSystemMenu(window, FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_SYS_SEARCH, L"アーカイブを検索(&S)...");
  }
  return 0;
}

LRESULT on_system_command(HWND window, WPARAM wparam, LPARAM lparam) {
  // The low four bits of a system command are the system's own.
  if ((wparam & 0xFFF0) == IDM_SYS_SEARCH) {
    run_command(ID_CMD_SEARCH);
    return 0;
  }
  return DefWindowProcW(window, WM_SYSCOMMAND, wparam, lparam);
}

LRESULT on_draw_item(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return FALSE;
  const int index = button_index(static_cast<int>(item.CtlID));
  if (index < 0) return FALSE;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const UniqueBitmap& face = pressed ? shell().down_faces[index] : shell().up_faces[index];
  draw_bitmap_scaled(item.hDC, face.get(), 0, 0, item.rcItem.right - item.rcItem.left,
                     item.rcItem.bottom - item.rcItem.top);
  return TRUE;
}

LRESULT on_command(WPARAM wparam) {
  // Only a click counts: an owner-drawn button reports a double click as a
  // separate notification, which must not start a second command.
  constexpr WORD kFromAccelerator = 1;
  if (HIWORD(wparam) == kFromAccelerator && LOWORD(wparam) == ID_CMD_SEARCH) {
    run_command(ID_CMD_SEARCH);
    return 0;
  }
  if (HIWORD(wparam) != BN_CLICKED) return 0;
  run_command(LOWORD(wparam));
  return 0;
}

LRESULT on_paint(HWND window) {
  PaintCycle paint(window);
  draw_background_and_names(paint.get());
  return 0;
}

LRESULT on_size(HWND window) {
  // The frame cannot be resized; this keeps the window at its fixed size at
  // its normal place when it is shown, minimised or restored.
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window, &placement)) return 0;
  place_window(window, placement.rcNormalPosition.left, placement.rcNormalPosition.top);
  return 0;
}

LRESULT on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam) {
  // Moved to a monitor of another DPI, or the user changed the scaling: the
  // layout, the buttons and the outer size follow; the window stays where
  // the system suggests.
  Shell& state = shell();
  state.dpi = LOWORD(wparam);
  for (const ButtonSpec& button : kButtons) {
    const RECT rect = button_rect(button, state.dpi);
    MoveWindow(GetDlgItem(window, button.id), rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, FALSE);
  }
  const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
  place_window(window, suggested.left, suggested.top);
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

LRESULT on_activate(HWND window, WPARAM wparam, LPARAM lparam) {
  // Wine may lift an activated owner over the windows it owns; the open
  // progress dialog is put back on top once the activation is complete.
  if (LOWORD(wparam) != WA_INACTIVE) PostMessageW(window, kMsgRaiseProgress, 0, 0);
  return DefWindowProcW(window, WM_ACTIVATE, wparam, lparam);
}

// Files or folders dropped on the window: imported (import_command). A
// path Shift_JIS cannot name is said, and the others go on.
LRESULT on_drop_files(HDROP drop) {
  std::vector<std::string> paths;
  std::wstring unnamed;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring path(DragQueryFileW(drop, i, nullptr, 0), L'\0');
    DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size() + 1));
    if (const std::optional<std::string> sjis = platform::wide_to_sjis(path)) {
      paths.push_back(*sjis);
    } else {
      unnamed += L"\n" + path;
    }
  }
  DragFinish(drop);
  if (!unnamed.empty()) {
    MessageBoxW(shell().main_window,
                (L"Shift_JISで表せない名前のため、取り込めません:" + unnamed).c_str(), L"注意",
                MB_OK | MB_ICONWARNING);
  }
  if (!paths.empty()) import_command(std::move(paths));
  return 0;
}

LRESULT on_left_button_up() {
  if (open_list_page(list_panel(), hit_test_panel())) redraw_panel();
  return 0;
}

}  // namespace

void redraw_panel() {
  const Shell& state = shell();
  if (!state.main_window) return;
  WindowDc dc(state.main_window);
  if (!dc.get()) return;
  draw_background_and_names(dc.get());
  for (int i = 0; i < kButtonCount; ++i) {
    const RECT rect = button_rect(kButtons[i], state.dpi);
    draw_bitmap_scaled(dc.get(), state.up_faces[i].get(), rect.left, rect.top,
                       rect.right - rect.left, rect.bottom - rect.top);
  }
}

int hit_test_panel() {
  POINT cursor{};
  if (!GetCursorPos(&cursor)) return 0;
  POINT origin{0, 0};
  ClientToScreen(shell().main_window, &origin);
  // The hit areas are in 96-DPI units.
  const int dpi = shell().dpi;
  return slot_at(unscale_from_dpi(cursor.x - origin.x, dpi),
                 unscale_from_dpi(cursor.y - origin.y, dpi));
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return on_create(window);
    case WM_DRAWITEM:
      return on_draw_item(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
    case WM_COMMAND:
      return on_command(wparam);
    case WM_SYSCOMMAND:
      return on_system_command(window, wparam, lparam);
    case WM_PAINT:
      return on_paint(window);
    case WM_SIZE:
      return on_size(window);
    case WM_DPICHANGED:
      return on_dpi_changed(window, wparam, lparam);
    case WM_ACTIVATE:
      return on_activate(window, wparam, lparam);
    case kMsgRaiseProgress:
      keep_progress_dialog_on_top();
      return 0;
    case WM_CLOSE:
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_LBUTTONDOWN:
      return 0;
    case WM_LBUTTONUP:
      return on_left_button_up();
    case WM_DROPFILES:
      return on_drop_files(reinterpret_cast<HDROP>(wparam));
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace larkspur::app
