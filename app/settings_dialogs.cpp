// The three settings dialogs. Each procedure only moves text between its
// controls and the settings logic (settings/*_logic.h), which validates,
// writes, deletes and asks its questions through a UserInterface.
//
// The list boxes show Shift_JIS lines converted for display; each dialog keeps
// the lines it added, byte for byte, and works on those by index, so a line
// that does not survive a round trip through UTF-16 (a log subject cut inside
// a character) still names its file or matches its log.
#include "app/settings_dialogs.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dpi.h"
#include "app/gdi.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "platform/platform.h"
#include "resources/app/dialogs_ids.h"
#include "dialogs/account_logic.h"
#include "dialogs/list_logic.h"
#include "panel/list_panel.h"
#include "dialogs/log_logic.h"
#include "dialogs/messages.h"
#include "search/search_index.h"

namespace larkspur::app {
namespace {

// ------------------------------------------------------------ message boxes

// The logic's questions and notices, owned by the open dialog: the box is
// modal to the dialog, so no button of the dialog can be pressed while a
// question waits for its answer.
class DialogUserInterface final : public UserInterface {
 public:
  explicit DialogUserInterface(HWND dialog) : dialog_(dialog) {}

  bool confirm(const Message& question) override {
    return show_message_box(dialog_, question, MB_YESNO) == IDYES;
  }
  void notify(const Message& message) override { show_message_box(dialog_, message, MB_OK); }
  void panel_changed() override { redraw_panel(); }

 private:
  HWND dialog_;
};

// ------------------------------------------------------------ controls

// A typed text as Shift_JIS. Text that Shift_JIS cannot hold (an emoji, a
// character outside code page 932) is never stored as '?': the field is
// named in a notice, and the caller stops with every field left as typed.
std::optional<std::string> read_text(HWND dialog, int id, const char* label_utf8) {
  const HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(control, wide.data(), length + 1);
  wide.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  if (auto sjis = platform::wide_to_sjis(wide)) return sjis;
  show_message_box(dialog, messages::unwritable_text(platform::jp(label_utf8)), MB_OK);
  return std::nullopt;
}

void set_text(HWND dialog, int id, std::string_view sjis) {
  SetDlgItemTextW(dialog, id, platform::sjis_to_wide_display(sjis).c_str());
}

void clear_texts(HWND dialog, std::initializer_list<int> ids) {
  for (int id : ids) SetDlgItemTextW(dialog, id, L"");
}

bool is_checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void set_checked(HWND dialog, int id, bool checked) {
  CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

// Removes every line of a list box, from the last to the first.
void empty_list_box(HWND dialog, int id) {
  for (LRESULT n = SendDlgItemMessageW(dialog, id, LB_GETCOUNT, 0, 0); n > 0; --n) {
    SendDlgItemMessageW(dialog, id, LB_DELETESTRING, static_cast<WPARAM>(n - 1), 0);
  }
}

void add_line(HWND dialog, int id, std::string_view sjis) {
  const std::wstring wide = platform::sjis_to_wide_display(sjis);
  SendDlgItemMessageW(dialog, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

// Empties the list box and adds `lines` in their order; `shown` keeps them.
void fill_list_box(HWND dialog, int id, std::vector<std::string> lines,
                   std::vector<std::string>& shown) {
  empty_list_box(dialog, id);
  shown = std::move(lines);
  for (const std::string& line : shown) add_line(dialog, id, line);
}

// The Shift_JIS line behind the list box's selection; nullopt when no line is
// selected.
std::optional<std::string> selected_line(HWND dialog, int id,
                                         const std::vector<std::string>& shown) {
  const LRESULT index = SendDlgItemMessageW(dialog, id, LB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<std::size_t>(index) >= shown.size()) return std::nullopt;
  return shown[static_cast<std::size_t>(index)];
}

// Each dialog's state lives in the show_* function and is handed to the
// procedure with WM_INITDIALOG.
template <typename State>
State* dialog_state(HWND dialog) {
  return reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

template <typename State>
State* attach_state(HWND dialog, LPARAM lparam) {
  SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  return reinterpret_cast<State*>(lparam);
}

// ------------------------------------------------------------ I_POP_DIALOG

// "クリア": only the new entry's fields empty.
AccountDialogUpdate clear_new_account_fields() {
  AccountDialogUpdate update;
  update.clear_new_fields = true;
  return update;
}

ListDialogUpdate clear_new_list_fields() {
  ListDialogUpdate update;
  update.clear_new_fields = true;
  return update;
}

struct AccountDialog {
  std::vector<std::string> lines;  // the list box's lines
};

void refill_accounts(HWND dialog, AccountDialog& state) {
  fill_list_box(dialog, IDC_POP_ACCOUNTS, account_list_lines(), state.lines);
}

void apply(HWND dialog, AccountDialog& state, const AccountDialogUpdate& update) {
  if (update.clear_new_fields) {
    clear_texts(dialog, {IDC_POP_NEW_NAME, IDC_POP_NEW_SERVER, IDC_POP_NEW_USER,
                         IDC_POP_NEW_PASSWORD});
    set_checked(dialog, IDC_POP_NEW_EXTENDED, false);
  }
  if (update.clear_shown_fields) {
    clear_texts(dialog, {IDC_POP_SERVER, IDC_POP_USER, IDC_POP_PASSWORD});
    set_checked(dialog, IDC_POP_EXTENDED, false);
  }
  if (update.refill_list_box) refill_accounts(dialog, state);
}

void on_account_selected(HWND dialog, const AccountDialog& state) {
  const auto line = selected_line(dialog, IDC_POP_ACCOUNTS, state.lines);
  if (!line) return;
  const AccountRecord record = select_account(*line);
  set_text(dialog, IDC_POP_SERVER, record.server);
  set_text(dialog, IDC_POP_USER, record.user_name);
  set_text(dialog, IDC_POP_PASSWORD, record.password);
  set_checked(dialog, IDC_POP_EXTENDED, has_extended_mail(record));
}

// "変更": the selected account's extended mail handling as its check box
// says. The account is shown again from its file afterwards, so the box
// shows what was stored, also when the change failed.
void on_change_account(HWND dialog, AccountDialog& state) {
  DialogUserInterface ui(dialog);
  apply(dialog, state,
        set_extended_mail(selected_line(dialog, IDC_POP_ACCOUNTS, state.lines),
                          is_checked(dialog, IDC_POP_EXTENDED), ui));
  on_account_selected(dialog, state);
}

void on_register_account(HWND dialog, AccountDialog& state) {
  const auto name = read_text(dialog, IDC_POP_NEW_NAME, "任意の名前");
  if (!name) return;
  const auto server = read_text(dialog, IDC_POP_NEW_SERVER, "POP3サーバー名");
  if (!server) return;
  const auto user = read_text(dialog, IDC_POP_NEW_USER, "アカウント名");
  if (!user) return;
  const auto password = read_text(dialog, IDC_POP_NEW_PASSWORD, "パスワード");
  if (!password) return;
  const NewAccountFields fields{*name, *server, *user, *password,
                                is_checked(dialog, IDC_POP_NEW_EXTENDED)};
  DialogUserInterface ui(dialog);
  apply(dialog, state, register_account(fields, ui));
}

void on_delete_account(HWND dialog, AccountDialog& state) {
  DialogUserInterface ui(dialog);
  apply(dialog, state,
        delete_account(selected_line(dialog, IDC_POP_ACCOUNTS, state.lines), ui));
}

void on_account_command(HWND dialog, int id, int code) {
  AccountDialog* state = dialog_state<AccountDialog>(dialog);
  if (!state) return;
  if (id == IDC_POP_ACCOUNTS) {
    on_account_selected(dialog, *state);  // any notification of the list box
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_POP_REGISTER: on_register_account(dialog, *state); break;
    case IDC_POP_CLEAR:
      apply(dialog, *state, clear_new_account_fields());
      break;
    case IDC_POP_DELETE: on_delete_account(dialog, *state); break;
    case IDC_POP_CHANGE: on_change_account(dialog, *state); break;
    case IDC_POP_DONE: EndDialog(dialog, 0); break;  // also Escape
    default: break;
  }
}

INT_PTR CALLBACK account_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      refill_accounts(dialog, *attach_state<AccountDialog>(dialog, lparam));
      return TRUE;
    case WM_COMMAND:
      on_account_command(dialog, LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    default: return FALSE;
  }
}

// ------------------------------------------------------------ I_LK_DIALOG

struct ListDialog {
  std::vector<std::string> names;  // the list box's lines
};

void refill_lists(HWND dialog, ListDialog& state) {
  fill_list_box(dialog, IDC_LK_LISTS, list_box_lines(), state.names);
}

void apply(HWND dialog, ListDialog& state, const ListDialogUpdate& update) {
  if (update.clear_new_fields) {
    clear_texts(dialog, {IDC_LK_NEW_NAME, IDC_LK_NEW_SEARCH_TEXT});
    set_checked(dialog, IDC_LK_NEW_KEEP, false);
  }
  if (update.clear_selected_fields) {
    clear_texts(dialog, {IDC_LK_SEARCH_TEXT});
    set_checked(dialog, IDC_LK_KEEP, false);
  }
  if (update.refill_list_box) refill_lists(dialog, state);
}

void on_list_selected(HWND dialog, const ListDialog& state) {
  const auto name = selected_line(dialog, IDC_LK_LISTS, state.names);
  if (!name) return;
  const ListFields fields = select_list(*name);
  set_text(dialog, IDC_LK_SEARCH_TEXT, fields.search_text);
  set_checked(dialog, IDC_LK_KEEP, fields.keep_on_server);
}

void on_register_list(HWND dialog, ListDialog& state) {
  const auto name = read_text(dialog, IDC_LK_NEW_NAME, "登録名");
  if (!name) return;
  const auto search_text = read_text(dialog, IDC_LK_NEW_SEARCH_TEXT, "この検索対象の文字");
  if (!search_text) return;
  NewListFields fields;
  fields.name = *name;
  fields.search_text = *search_text;
  fields.keep_on_server = is_checked(dialog, IDC_LK_NEW_KEEP);
  DialogUserInterface ui(dialog);
  apply(dialog, state, register_list(fields, ui, list_panel()));
}

void on_change_list(HWND dialog, ListDialog& state) {
  const auto search_text = read_text(dialog, IDC_LK_SEARCH_TEXT, "この検索対象の文字");
  if (!search_text) return;
  ListFields fields;
  fields.search_text = *search_text;
  fields.keep_on_server = is_checked(dialog, IDC_LK_KEEP);
  DialogUserInterface ui(dialog);
  apply(dialog, state,
        change_list(selected_line(dialog, IDC_LK_LISTS, state.names), fields, ui, list_panel()));
}

void on_delete_list(HWND dialog, ListDialog& state) {
  DialogUserInterface ui(dialog);
  ListDialogUpdate update = delete_list(selected_line(dialog, IDC_LK_LISTS, state.names), ui, list_panel());
  // The search forgets the list's messages.
  if (update.outcome.kind != OutcomeKind::kDeclined && update.outcome.kind != OutcomeKind::kRefused) {
    build_search_index();
  }
  apply(dialog, state, std::move(update));
}

void on_list_command(HWND dialog, int id, int code) {
  ListDialog* state = dialog_state<ListDialog>(dialog);
  if (!state) return;
  if (id == IDC_LK_LISTS) {
    on_list_selected(dialog, *state);  // any notification of the list box
    return;
  }
  // ID 2 is the search text edit: its notifications, and the cancel command
  // the dialog manager sends for Escape, are ignored like every other
  // non-click.
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_LK_REGISTER: on_register_list(dialog, *state); break;
    case IDC_LK_CLEAR: apply(dialog, *state, clear_new_list_fields()); break;
    case IDC_LK_CHANGE: on_change_list(dialog, *state); break;
    case IDC_LK_DELETE: on_delete_list(dialog, *state); break;
    case IDC_LK_DONE: EndDialog(dialog, 0); break;
    default: break;
  }
}

INT_PTR CALLBACK list_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      refill_lists(dialog, *attach_state<ListDialog>(dialog, lparam));
      return TRUE;
    case WM_COMMAND:
      on_list_command(dialog, LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    default: return FALSE;
  }
}

// ------------------------------------------------------------ I_DEL_DIALOG

struct LogDeletionDialog {
  std::vector<std::string> lists;  // the lists list box's lines
  std::vector<std::string> logs;   // the log list box's lines (first lines)
  std::string selected_log;        // empty: no log selected
  bool rebuild_requested = false;  // Delete was pressed
  UniqueBitmap picture;            // DELBMP
  HHOOK key_filter = nullptr;
};

// The dialog being shown; the keyboard filter below needs it, and only one
// modal deletion dialog can be open.
HWND g_log_dialog = nullptr;

// The dialog manager would turn Enter into a click on "クリア" (ID 1) and
// Escape into a click on "削除" (ID 2), and the command it sends cannot be
// told from a real click. So the two keys are taken out of the dialog's own
// message loop before the dialog manager sees them: in this dialog they do
// nothing. Message boxes over the dialog are other windows and keep their
// keys.
LRESULT CALLBACK filter_dialog_keys(int code, WPARAM wparam, LPARAM lparam) {
  if (code == MSGF_DIALOGBOX && g_log_dialog) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    const bool key = message->message == WM_KEYDOWN || message->message == WM_KEYUP ||
                     message->message == WM_CHAR;
    const bool enter_or_escape = message->wParam == VK_RETURN || message->wParam == VK_ESCAPE;
    const bool in_dialog =
        message->hwnd == g_log_dialog || IsChild(g_log_dialog, message->hwnd);
    if (key && enter_or_escape && in_dialog) return 1;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void forget_selected_log(LogDeletionDialog& state) { state.selected_log.clear(); }

// Fills the log list box from the list chosen in the lists list box.
void fill_logs(HWND dialog, LogDeletionDialog& state) {
  std::vector<std::string> lines;
  if (const auto list = selected_line(dialog, IDC_DEL_LISTS, state.lists)) {
    for (LogEntry& entry : list_logs(*list)) lines.push_back(std::move(entry.first_line));
  }
  fill_list_box(dialog, IDC_DEL_LOGS, std::move(lines), state.logs);
  forget_selected_log(state);
}

// On opening and on "クリア": both list boxes emptied, the lists reloaded,
// nothing chosen.
void initialise(HWND dialog, LogDeletionDialog& state) {
  empty_list_box(dialog, IDC_DEL_LOGS);
  state.logs.clear();
  empty_list_box(dialog, IDC_DEL_LISTS);
  state.lists.clear();
  forget_selected_log(state);
  DialogUserInterface ui(dialog);
  fill_list_box(dialog, IDC_DEL_LISTS, log_dialog_lists(ui), state.lists);
}

void on_log_selected(HWND dialog, LogDeletionDialog& state) {
  forget_selected_log(state);
  if (auto line = selected_line(dialog, IDC_DEL_LOGS, state.logs)) state.selected_log = *line;
}

void on_delete_logs(HWND dialog, LogDeletionDialog& state) {
  LogDeleteChoice choice;
  choice.list_name = selected_line(dialog, IDC_DEL_LISTS, state.lists);
  choice.log_line = state.selected_log;
  DialogUserInterface ui(dialog);
  const LogDeleteResult result = delete_logs(choice, ui);
  if (result.rebuild_requested) state.rebuild_requested = true;
  if (result.refill_logs) fill_logs(dialog, state);
}

void on_log_dialog_command(HWND dialog, int id, int code) {
  LogDeletionDialog* state = dialog_state<LogDeletionDialog>(dialog);
  if (!state) return;
  switch (id) {
    case IDC_DEL_LISTS:
      // A change of the chosen list; focus changes of the list box leave the
      // log list and its selection alone.
      if (code == LBN_SELCHANGE || code == LBN_SELCANCEL) fill_logs(dialog, *state);
      return;
    case IDC_DEL_LOGS: on_log_selected(dialog, *state); return;
    default: break;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_DEL_CLEAR: initialise(dialog, *state); break;
    case IDC_DEL_DELETE: on_delete_logs(dialog, *state); break;
    case IDC_DEL_DONE: EndDialog(dialog, 0); break;
    default: break;
  }
}

void paint_log_dialog(HWND dialog, const LogDeletionDialog& state) {
  // Pixels at 96 DPI, scaled like the dialog, which grows with its font.
  const int dpi = window_dpi(dialog);
  PaintCycle paint(dialog);
  draw_bitmap_scaled(paint.get(), state.picture.get(), scale_to_dpi(DEL_PICTURE_X, dpi),
                     scale_to_dpi(DEL_PICTURE_Y, dpi), scale_to_dpi(DEL_PICTURE_WIDTH, dpi),
                     scale_to_dpi(DEL_PICTURE_HEIGHT, dpi));
}

INT_PTR CALLBACK log_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      LogDeletionDialog& state = *attach_state<LogDeletionDialog>(dialog, lparam);
      g_log_dialog = dialog;
      state.key_filter =
          SetWindowsHookExW(WH_MSGFILTER, filter_dialog_keys, nullptr, GetCurrentThreadId());
      state.picture = load_bitmap(shell().instance, L"DELBMP");
      initialise(dialog, state);
      return TRUE;
    }
    case WM_COMMAND:
      on_log_dialog_command(dialog, LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_PAINT:
      if (const LogDeletionDialog* state = dialog_state<LogDeletionDialog>(dialog)) {
        paint_log_dialog(dialog, *state);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (LogDeletionDialog* state = dialog_state<LogDeletionDialog>(dialog)) {
        if (state->key_filter) UnhookWindowsHookEx(state->key_filter);
        state->key_filter = nullptr;
        state->picture.reset();
      }
      g_log_dialog = nullptr;
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

void show_account_dialog(HWND owner) {
  AccountDialog state;
  DialogBoxParamW(shell().instance, L"I_POP_DIALOG", owner, account_dialog_proc,
                  reinterpret_cast<LPARAM>(&state));
}

void show_list_dialog(HWND owner) {
  ListDialog state;
  DialogBoxParamW(shell().instance, L"I_LK_DIALOG", owner, list_dialog_proc,
                  reinterpret_cast<LPARAM>(&state));
  redraw_panel();  // "完了" is the only way out
}

bool show_log_deletion_dialog(HWND owner) {
  LogDeletionDialog state;
  DialogBoxParamW(shell().instance, L"I_DEL_DIALOG", owner, log_dialog_proc,
                  reinterpret_cast<LPARAM>(&state));
  redraw_panel();  // "完了" is the only way out
  return state.rebuild_requested;
}

}  // namespace larkspur::app
