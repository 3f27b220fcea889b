// The logic behind the list dialog, free of window code. The front end reads
// its controls into the plain structs below, calls one operation, and then
// does what the returned update says. Questions and notices go through the
// UserInterface with the texts of dialogs/messages.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/list_panel.h"
#include "settings/outcome.h"
#include "settings/records.h"
#include "settings/ui.h"

namespace larkspur {

// The "new list" group: name edit, search text edit and the box
// "サーバーにメールを残す" (checked: leave mail on the server).
struct NewListFields {
  std::string name;
  std::string search_text;
  bool keep_on_server = false;
};

// The selected list's search text edit and its "サーバーにメールを残す" box.
struct ListFields {
  std::string search_text;
  bool keep_on_server = false;
};

// What the dialog does after an operation; all false means leave every
// control as it is (a refusal keeps the typed fields).
struct ListDialogUpdate {
  bool clear_new_fields = false;       // empty name and search text, clear the box
  bool clear_selected_fields = false;  // empty the selected search text, clear its box
  bool refill_list_box = false;        // refill the list box from list_box_lines()
  // What happened; the reason of a refusal or failure is the text of the
  // notice shown, of a declined question empty.
  Outcome outcome;
};

// The list box lines: the list names in presentation order.
std::vector<std::string> list_box_lines();

// The fields shown for a selected list: its search text, and the box checked
// when delete_from_server is 0 (an unreadable record shows empty and checked).
ListFields select_list(std::string_view list_name);

// "新規登録". Refuses with a notice, in this order: kMaxLists or more record
// files (whatever is typed); an empty name or search text; a name holding one
// of \ / . : , ; * ? < > | " as a Shift_JIS character (a double-byte
// character such as ソ or ポ is allowed). Name and search text are cut to
// kMaxSearchText bytes first. Otherwise creates the list folder (kept if it
// exists), writes the record with new_mail 0 over any old one, refills
// `table`, calls ui.panel_changed(), and asks to clear the new fields and
// refill the list box. A record that cannot be written is a failure with
// messages::save_failed(); the typed fields stay.
ListDialogUpdate register_list(const NewListFields& fields, UserInterface& ui,
                               ListPanelTable& table);

// "変更" for the selected list (nullopt: none). Asks first; on No, with
// nothing selected, or when the list is not registered (no record file: a
// change never creates a record), does nothing. An empty search text is refused with
// messages::fill_every_field(). Otherwise writes a whole new record (so
// new_mail becomes 0), clears the list's mark in `table` and calls
// ui.panel_changed(). The list box is not refilled. A record that cannot be
// written keeps its mark and is a failure with messages::save_failed(). A
// list that is not registered is refused without a notice.
ListDialogUpdate change_list(const std::optional<std::string>& selected_list,
                             const ListFields& fields, UserInterface& ui,
                             ListPanelTable& table);

// "削除" for the selected list (nullopt: none). Notifies when nothing is
// selected; asks to confirm; on Yes deletes every file of the list's web
// folder and of its list folder (all names gathered before the first
// deletion), removes both folders when they are empty (a subfolder made by
// hand keeps them), then deletes the record, notifying when that fails. A
// folder that is a link (symbolic link, junction) loses only the link: no
// file of the folder it points to is ever deleted. Refills `table`, calls ui.panel_changed(), and asks to clear the selected
// fields and refill the list box.
ListDialogUpdate delete_list(const std::optional<std::string>& selected_list, UserInterface& ui,
                             ListPanelTable& table);

// The characters a list name may not hold (see register_list).
inline constexpr std::string_view kRefusedNameCharacters = "\\/.:,;*?<>|\"";

}  // namespace larkspur
