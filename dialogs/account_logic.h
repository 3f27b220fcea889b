// The logic behind the account dialog, free of window code. The front end
// reads its controls into the plain structs below, calls one operation, and
// then does what the returned update says. Questions and notices go through
// the UserInterface with the texts of dialogs/messages.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/outcome.h"
#include "settings/records.h"
#include "settings/ui.h"

namespace larkspur {

// The four edits of the "new account" group, as typed (any length), and its
// check box for extended mail handling.
struct NewAccountFields {
  std::string account_name;
  std::string server;
  std::string user_name;
  std::string password;
  // True sets kAccountOptionExtendedMail; false writes options 0, so the
  // record is byte for byte the one written before the option existed.
  bool extended_mail = false;
};

// What the dialog does after an operation; all false means leave every
// control as it is (a refusal keeps the typed fields).
struct AccountDialogUpdate {
  bool clear_new_fields = false;    // empty the four "new account" edits
  bool clear_shown_fields = false;  // empty the three edits of the selected account
  bool refill_list_box = false;     // refill the list box from account_list_lines()
  // What happened; the reason of a refusal or failure is the text of the
  // notice shown, of a declined question empty.
  Outcome outcome;
};

// The list box lines: each account record's account_name, in presentation
// order (an unreadable record gives an empty line).
std::vector<std::string> account_list_lines();

// The record behind a selected line: "pop3mail\" + line + ".stf", read into a
// zeroed record; all zero when it cannot be read. Shows server, user_name and
// password.
AccountRecord select_account(std::string_view line);

// "新規登録": refused with a notice when any account exists (tested first,
// whatever is typed), when a field is empty, or when the account name is no
// name the file system takes (is_usable_account_name); each field is cut to
// kMaxAccountField bytes first. Otherwise writes the record and asks to clear
// and refill; a record that cannot be written is a failure with a notice,
// and the typed fields stay.
AccountDialogUpdate register_account(const NewAccountFields& fields, UserInterface& ui);

// Whether the record asks for extended mail handling.
bool has_extended_mail(const AccountRecord& record);

// "変更" of the registered-account group: turns extended mail handling on
// (`on`) or off for the account behind the selected line (nullopt: no line
// selected, which is said in a notice). Only that bit of `options` changes:
// every other byte of "pop3mail\" + line + ".stf" stays as it was (a short
// file is padded with zeros to the record's size), the password is never
// typed again, and the file is replaced atomically. A record that cannot be
// read or written is a failure with a notice, and nothing is written. Asks
// for no change of the controls; the dialog shows the record again.
AccountDialogUpdate set_extended_mail(const std::optional<std::string>& selected_line, bool on,
                                      UserInterface& ui);

// True when `name` can be a file name on every file system the program runs
// on: no control character, none of \ / : * ? " < > |, not ending in a dot
// or a blank, not "." or "..".
bool is_usable_account_name(std::string_view name);

// "削除" with the selected line (nullopt: no line selected). Notifies when
// nothing is selected; asks to confirm; on Yes deletes the record file,
// notifying when that fails, and asks to clear the shown fields and refill.
AccountDialogUpdate delete_account(const std::optional<std::string>& selected_line,
                                   UserInterface& ui);

}  // namespace larkspur
