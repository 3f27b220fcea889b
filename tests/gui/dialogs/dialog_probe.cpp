// dialog-probe: reads the settings dialogs of a running larkspur.exe from
// inside Wine, for tests/gui/dialogs/run.sh. Everything a screen shot cannot
// tell reliably: control rectangles, texts, list box lines, check states and
// message boxes. Output is UTF-8, one answer per run; exit code 0 when the
// window (and control) was found, 1 when not, 2 for a usage error.
//
//   window TITLE       "x y width height client_width client_height client_x
//                      client_y" of the top-level window with that title
//   count TITLE        how many visible top-level windows have that title
//   control TITLE ID   "x y width height" of control ID on the screen
//   text TITLE ID      the text of control ID
//   items TITLE ID     the lines of list box ID, one per line
//   selected TITLE ID  the selected line's index in list box ID, -1 for none
//   line TITLE ID N    "x y" on the screen of the centre of line N of list box
//                      ID (scrolled into view first), for a click
//   checked TITLE ID   1 when check box ID is checked, else 0
//   style TITLE [ID]   the window style of the window (or control) in hex
//   layout TITLE       "client W H", then per child in creation order
//                      "ID CLASS x y width height STYLE TEXT" in client pixels
//   message TITLE      a message box: its text (line breaks as \n), then
//                      "buttons" and the IDs of its push buttons
//   owner TITLE        the title of the window's owner
//   clipboard TEXT     puts TEXT on the clipboard (for Ctrl+V)
//   close TITLE        asks that window to close (WM_CLOSE)
//   focus TITLE        "ID ROOT_TITLE" of the control with the keyboard focus
//                      in that window's thread, "none" for none
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

void print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// WM_GETTEXT itself: GetWindowText does not ask a control of another
// process for its text (an edit's typed text would read as empty).
std::wstring window_text(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  const LRESULT copied = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

std::wstring class_name(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct Search {
  std::wstring title;
  std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (IsWindowVisible(window) && window_text(window) == search->title) {
    search->found.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> top_levels(const wchar_t* title) {
  Search search{title, {}};
  EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND top_level(const wchar_t* title) {
  const auto found = top_levels(title);
  return found.empty() ? nullptr : found.front();
}

HWND control(const wchar_t* title, const wchar_t* id) {
  HWND window = top_level(title);
  return window ? GetDlgItem(window, _wtoi(id)) : nullptr;
}

std::string numbers(std::initializer_list<long> values) {
  std::string line;
  for (long value : values) line += (line.empty() ? "" : " ") + std::to_string(value);
  return line;
}

std::string hex(LONG_PTR value) {
  char text[32];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(value));
  return text;
}

int window_command(const wchar_t* title) {
  HWND window = top_level(title);
  if (!window) return 1;
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  print(numbers({outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                 client.right, client.bottom, origin.x, origin.y}));
  return 0;
}

int control_command(const wchar_t* title, const wchar_t* id) {
  HWND item = control(title, id);
  if (!item) return 1;
  RECT rect{};
  GetWindowRect(item, &rect);
  print(numbers({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}));
  return 0;
}

int text_command(const wchar_t* title, const wchar_t* id) {
  HWND item = control(title, id);
  if (!item) return 1;
  print(utf8(window_text(item)));
  return 0;
}

int items_command(const wchar_t* title, const wchar_t* id) {
  HWND box = control(title, id);
  if (!box) return 1;
  const LRESULT count = SendMessageW(box, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(box, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring line(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const LRESULT copied = SendMessageW(box, LB_GETTEXT, static_cast<WPARAM>(i),
                                        reinterpret_cast<LPARAM>(line.data()));
    line.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    print(utf8(line));
  }
  return 0;
}

int selected_command(const wchar_t* title, const wchar_t* id) {
  HWND box = control(title, id);
  if (!box) return 1;
  print(std::to_string(SendMessageW(box, LB_GETCURSEL, 0, 0)));
  return 0;
}

// Where line INDEX of a list box is, so that a click can pick it: "x y" of
// its centre on the screen, after scrolling it into view.
int line_command(const wchar_t* title, const wchar_t* id, const wchar_t* index_text) {
  HWND box = control(title, id);
  if (!box) return 1;
  const int index = _wtoi(index_text);
  if (index < 0 || index >= SendMessageW(box, LB_GETCOUNT, 0, 0)) return 1;
  const LRESULT top = SendMessageW(box, LB_GETTOPINDEX, 0, 0);
  const LRESULT height = SendMessageW(box, LB_GETITEMHEIGHT, 0, 0);
  RECT client{};
  GetClientRect(box, &client);
  const LRESULT visible = height > 0 ? client.bottom / height : 0;
  LRESULT first = top;
  if (index < top || index >= top + visible) {
    first = index;
    SendMessageW(box, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    first = SendMessageW(box, LB_GETTOPINDEX, 0, 0);
  }
  POINT centre{client.right / 2, static_cast<LONG>((index - first) * height + height / 2)};
  ClientToScreen(box, &centre);
  print(numbers({centre.x, centre.y}));
  return 0;
}

int checked_command(const wchar_t* title, const wchar_t* id) {
  HWND box = control(title, id);
  if (!box) return 1;
  print(SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0");
  return 0;
}

int style_command(const wchar_t* title, const wchar_t* id) {
  HWND window = id ? control(title, id) : top_level(title);
  if (!window) return 1;
  print(hex(GetWindowLongPtrW(window, GWL_STYLE)));
  return 0;
}

int layout_command(const wchar_t* title) {
  HWND window = top_level(title);
  if (!window) return 1;
  RECT client{};
  GetClientRect(window, &client);
  print("client " + numbers({client.right, client.bottom}));
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const int id = GetDlgCtrlID(child);
    print(std::to_string(id == 0xFFFF ? -1 : id) + " " + utf8(class_name(child)) + " " +
          numbers({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}) + " " +
          hex(GetWindowLongPtrW(child, GWL_STYLE)) + " " + utf8(window_text(child)));
  }
  return 0;
}

int message_command(const wchar_t* title) {
  HWND box = top_level(title);
  if (!box || class_name(box) != L"#32770") return 1;
  std::string text = utf8(window_text(GetDlgItem(box, 0xFFFF)));
  std::string shown;
  for (char c : text) {
    if (c == '\r') continue;
    shown += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  print(shown);
  std::string buttons = "buttons";
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (class_name(child) == L"Button" && IsWindowVisible(child)) {
      buttons += " " + std::to_string(GetDlgCtrlID(child));
    }
  }
  print(buttons);
  return 0;
}

// The control that has the keyboard focus in the window's thread.
int focus_command(const wchar_t* title) {
  HWND window = top_level(title);
  if (!window) return 1;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return 1;
  print(info.hwndFocus ? std::to_string(GetDlgCtrlID(info.hwndFocus)) + " " +
                             utf8(window_text(GetAncestor(info.hwndFocus, GA_ROOT)))
                       : std::string("none"));
  return 0;
}

int owner_command(const wchar_t* title) {
  HWND window = top_level(title);
  if (!window) return 1;
  HWND owner = GetWindow(window, GW_OWNER);
  print(owner ? utf8(window_text(owner)) : std::string());
  return 0;
}

int close_command(const wchar_t* title) {
  HWND window = top_level(title);
  if (!window) return 1;
  PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}

// Puts TEXT on the clipboard, so that Ctrl+V can type what xdotool cannot
// (Japanese characters).
int clipboard_command(const wchar_t* text) {
  const std::size_t bytes = (std::wstring_view(text).size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory) return 1;
  std::memcpy(GlobalLock(memory), text, bytes);
  GlobalUnlock(memory);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return 1;
  }
  EmptyClipboard();
  const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!set) GlobalFree(memory);
  return set ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"window" && argc == 3) return window_command(argv[2]);
  if (command == L"count" && argc == 3) {
    print(std::to_string(top_levels(argv[2]).size()));
    return 0;
  }
  if (command == L"control" && argc == 4) return control_command(argv[2], argv[3]);
  if (command == L"text" && argc == 4) return text_command(argv[2], argv[3]);
  if (command == L"items" && argc == 4) return items_command(argv[2], argv[3]);
  if (command == L"selected" && argc == 4) return selected_command(argv[2], argv[3]);
  if (command == L"line" && argc == 5) return line_command(argv[2], argv[3], argv[4]);
  if (command == L"checked" && argc == 4) return checked_command(argv[2], argv[3]);
  if (command == L"style" && (argc == 3 || argc == 4)) {
    return style_command(argv[2], argc == 4 ? argv[3] : nullptr);
  }
  if (command == L"layout" && argc == 3) return layout_command(argv[2]);
  if (command == L"message" && argc == 3) return message_command(argv[2]);
  if (command == L"owner" && argc == 3) return owner_command(argv[2]);
  if (command == L"clipboard" && argc == 3) return clipboard_command(argv[2]);
  if (command == L"close" && argc == 3) return close_command(argv[2]);
  if (command == L"focus" && argc == 3) return focus_command(argv[2]);
  std::fputs("usage: dialog-probe window|count|control|text|items|selected|line|checked|style|"
             "layout|message|owner|clipboard|close|focus TITLE [ID]\n", stderr);
  return 2;
}
