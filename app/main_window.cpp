// The main window: a switch over the messages, one named function each.
#include <windows.h>

#include <string>

#include "app/commands.h"
#include "app/panel_layout.h"
#include "app/progress_dialog.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "platform/platform.h"
#include "resources/app/resource.h"
#include "settings/list_panel.h"
#include "settings/open_list_page.h"

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

UniqueFont create_name_font() {
  return UniqueFont(CreateFontW(kNameFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                PROOF_QUALITY, FIXED_PITCH | FF_MODERN, L"ＭＳ ゴシック"));
}

// Background and names; the buttons are left to the caller.
void draw_background_and_names(HDC dc) {
  blit_bitmap(dc, shell().background.get(), 0, 0, kBackgroundWidth, kBackgroundHeight);
  SetTextColor(dc, kNameText);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, kNameGround);
  UniqueFont font = create_name_font();
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
    TextOutW(dc, text_x(i), text_y(i), shown.c_str(), length);
    if (slots[i].new_mail != 0) {
      SetBkColor(dc, kMarkedGround);
      TextOutW(dc, text_x(i), text_y(i), shown.c_str(), length);
      SetBkColor(dc, kNameGround);
    }
  }
}

// --------------------------------------------------------- message handlers

LRESULT on_create(HWND window) {
  Shell& state = shell();
  for (int i = 0; i < kButtonCount; ++i) {
    const ButtonSpec& button = kButtons[i];
    state.up_faces[i] = load_bitmap(state.instance, button.up_face);
    state.down_faces[i] = load_bitmap(state.instance, button.down_face);
    CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_OWNERDRAW,
                    button.x, button.y, button.width, button.height, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)), state.instance,
                    nullptr);
  }
  return 0;
}

LRESULT on_draw_item(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return FALSE;
  const int index = button_index(static_cast<int>(item.CtlID));
  if (index < 0) return FALSE;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const UniqueBitmap& face = pressed ? shell().down_faces[index] : shell().up_faces[index];
  blit_bitmap(item.hDC, face.get(), 0, 0);
  return TRUE;
}

LRESULT on_command(WPARAM wparam) {
  // Only a click counts: an owner-drawn button reports a double click as a
  // separate notification, which must not start a second command.
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
  // its normal place when it is shown, minimised or restored. The guard stops
  // the move's own size message from moving it again.
  static bool moving = false;
  if (moving) return 0;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window, &placement)) return 0;
  moving = true;
  MoveWindow(window, placement.rcNormalPosition.left, placement.rcNormalPosition.top,
             kWindowWidth, kWindowHeight, TRUE);
  moving = false;
  return 0;
}

LRESULT on_activate(HWND window, WPARAM wparam, LPARAM lparam) {
  // Wine may lift an activated owner over the windows it owns; the open
  // progress dialog is put back on top once the activation is complete.
  if (LOWORD(wparam) != WA_INACTIVE) PostMessageW(window, kMsgRaiseProgress, 0, 0);
  return DefWindowProcW(window, WM_ACTIVATE, wparam, lparam);
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
    const ButtonSpec& button = kButtons[i];
    blit_bitmap(dc.get(), state.up_faces[i].get(), button.x, button.y, button.width, button.height);
  }
}

int hit_test_panel() {
  POINT cursor{};
  if (!GetCursorPos(&cursor)) return 0;
  POINT origin{0, 0};
  ClientToScreen(shell().main_window, &origin);
  return slot_at(cursor.x - origin.x, cursor.y - origin.y);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return on_create(window);
    case WM_DRAWITEM:
      return on_draw_item(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
    case WM_COMMAND:
      return on_command(wparam);
    case WM_PAINT:
      return on_paint(window);
    case WM_SIZE:
      return on_size(window);
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
    case kMsgConfirm:
      return window_ui().confirm(*reinterpret_cast<const Message*>(lparam)) ? 1 : 0;
    case kMsgNotify:
      window_ui().notify(*reinterpret_cast<const Message*>(lparam));
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace larkspur::app
