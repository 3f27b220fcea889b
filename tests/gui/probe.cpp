// larkspur-gui-probe: looks at the windows of a running larkspur.exe from
// inside Wine, for the GUI tests (tests/gui/run.sh). It reads what a screen
// shot cannot tell reliably: window rectangles, control texts, the window
// system's object counts. Output is UTF-8, one answer per run; exit code 0
// when the window was found, 1 when not, 2 for a usage error.
//
//   window TITLE            "x y width height client_width client_height
//                           client_x client_y" of the top-level window with
//                           that title (client_x/y: its client area's origin
//                           on the screen)
//   count TITLE             how many top-level windows have that title
//   above TITLE1 TITLE2     "yes" when TITLE1 lies above TITLE2 in the
//                           z-order of visible top-level windows, else "no"
//   control TITLE ID        "x y width height" of control ID in screen
//                           coordinates (its centre is where to click)
//   text TITLE ID           the text of control ID of that window
//   press TITLE ID          clicks button ID of that window (BM_CLICK)
//   owner TITLE             the title of the window that owns that window
//   minimize TITLE          minimises that window as its caption button does
//   restore TITLE           restores it again
//   close TITLE             asks that window to close (WM_CLOSE)
//   gdi                     "gdi_objects user_objects process_id" of the
//                           process that owns the Larkspur main window
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kMainClass[] = L"KumowareLKSFREE";

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// A top-level window by its exact title, whatever its class.
HWND find_top_level(const wchar_t* title) { return FindWindowW(nullptr, title); }

HWND find_control(const wchar_t* title, const wchar_t* id_text) {
  HWND window = find_top_level(title);
  if (!window) return nullptr;
  return GetDlgItem(window, _wtoi(id_text));
}

int print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  return 0;
}

int window_command(const wchar_t* title) {
  HWND window = find_top_level(title);
  if (!window) return 1;
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  char line[160];
  std::snprintf(line, sizeof line, "%ld %ld %ld %ld %ld %ld %ld %ld", outer.left, outer.top,
                outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom,
                origin.x, origin.y);
  return print(line);
}

struct CountRequest {
  const wchar_t* title;
  int count = 0;
};

BOOL CALLBACK count_window(HWND window, LPARAM data) {
  auto* request = reinterpret_cast<CountRequest*>(data);
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (std::wstring(title) == request->title) ++request->count;
  return TRUE;
}

int count_command(const wchar_t* title) {
  CountRequest request{title};
  EnumWindows(count_window, reinterpret_cast<LPARAM>(&request));
  return print(std::to_string(request.count));
}

struct OrderRequest {
  const wchar_t* first;
  const wchar_t* second;
  int first_at = -1, second_at = -1, index = 0;
};

BOOL CALLBACK order_window(HWND window, LPARAM data) {
  auto* request = reinterpret_cast<OrderRequest*>(data);
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (request->first_at < 0 && std::wstring(title) == request->first) request->first_at = request->index;
  if (request->second_at < 0 && std::wstring(title) == request->second) request->second_at = request->index;
  ++request->index;
  return TRUE;
}

// EnumWindows lists top-level windows from the top of the z-order down.
int above_command(const wchar_t* first, const wchar_t* second) {
  OrderRequest request{first, second};
  EnumWindows(order_window, reinterpret_cast<LPARAM>(&request));
  if (request.first_at < 0 || request.second_at < 0) return 1;
  return print(request.first_at < request.second_at ? "yes" : "no");
}

int control_command(const wchar_t* title, const wchar_t* id) {
  HWND control = find_control(title, id);
  if (!control) return 1;
  RECT rect{};
  GetWindowRect(control, &rect);
  char line[128];
  std::snprintf(line, sizeof line, "%ld %ld %ld %ld", rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top);
  return print(line);
}

int text_command(const wchar_t* title, const wchar_t* id) {
  HWND control = find_control(title, id);
  if (!control) return 1;
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(),
                                                      static_cast<int>(text.size()))));
  return print(utf8(text));
}

int press_command(const wchar_t* title, const wchar_t* id) {
  HWND control = find_control(title, id);
  if (!control) return 1;
  PostMessageW(control, BM_CLICK, 0, 0);
  return 0;
}

int owner_command(const wchar_t* title) {
  HWND window = find_top_level(title);
  if (!window) return 1;
  HWND owner = GetWindow(window, GW_OWNER);
  wchar_t owner_title[256] = {};
  if (owner) GetWindowTextW(owner, owner_title, 256);
  return print(utf8(owner_title));
}

int system_command(const wchar_t* title, WPARAM command) {
  HWND window = find_top_level(title);
  if (!window) return 1;
  PostMessageW(window, WM_SYSCOMMAND, command, 0);
  return 0;
}

int close_command(const wchar_t* title) {
  HWND window = find_top_level(title);
  if (!window) return 1;
  PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}

int gdi_command() {
  HWND window = FindWindowW(kMainClass, nullptr);
  if (!window) return 1;
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process_id);
  if (!process) return 1;
  const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
  const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
  CloseHandle(process);
  char line[64];
  std::snprintf(line, sizeof line, "%lu %lu %lu", gdi, user, process_id);
  return print(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Rectangles in device pixels, as larkspur.exe (DPI-aware) and xdotool see
  // them, whatever the DPI.
  SetProcessDPIAware();
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"window" && argc == 3) return window_command(argv[2]);
  if (command == L"count" && argc == 3) return count_command(argv[2]);
  if (command == L"above" && argc == 4) return above_command(argv[2], argv[3]);
  if (command == L"control" && argc == 4) return control_command(argv[2], argv[3]);
  if (command == L"text" && argc == 4) return text_command(argv[2], argv[3]);
  if (command == L"press" && argc == 4) return press_command(argv[2], argv[3]);
  if (command == L"owner" && argc == 3) return owner_command(argv[2]);
  if (command == L"minimize" && argc == 3) return system_command(argv[2], SC_MINIMIZE);
  if (command == L"restore" && argc == 3) return system_command(argv[2], SC_RESTORE);
  if (command == L"close" && argc == 3) return close_command(argv[2]);
  if (command == L"gdi" && argc == 2) return gdi_command();
  std::fputs("usage: larkspur-gui-probe window|count|above|control|text|press|owner|minimize|restore|close|gdi ...\n", stderr);
  return 2;
}
