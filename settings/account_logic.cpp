#include "settings/account_logic.h"

#include "settings/messages.h"
#include "settings/store.h"

namespace larkspur {

std::vector<std::string> account_list_lines() {
  std::vector<std::string> lines;
  for (const AccountRecord& record : enumerate_accounts()) lines.push_back(record.account_name);
  return lines;
}

AccountRecord select_account(std::string_view line) {
  if (!is_plain_file_name(line)) return AccountRecord{};
  auto bytes = platform::read_file(account_record_path(line), AccountRecord::kSize);
  return AccountRecord::decode(bytes.value_or(std::string{}));
}

AccountDialogUpdate register_account(const NewAccountFields& fields, UserInterface& ui) {
  AccountRecord record;
  record.account_name = cut_sjis(fields.account_name, kMaxAccountField);
  record.server = cut_sjis(fields.server, kMaxAccountField);
  record.user_name = cut_sjis(fields.user_name, kMaxAccountField);
  record.password = cut_sjis(fields.password, kMaxAccountField);

  // The one-account rule comes first: with an account registered, this is the
  // message whatever was typed.
  if (!account_record_files().empty()) {
    ui.notify(messages::one_account_only());
    return {};
  }
  if (record.account_name.empty() || record.server.empty() || record.user_name.empty() ||
      record.password.empty()) {
    ui.notify(messages::fill_every_field());
    return {};
  }
  // A name the file system refuses leaves no record and no message; the
  // refilled list box then simply lacks the account.
  write_account(record);
  AccountDialogUpdate update;
  update.clear_new_fields = true;
  update.refill_list_box = true;
  return update;
}

AccountDialogUpdate delete_account(const std::optional<std::string>& selected_line,
                                   UserInterface& ui) {
  if (!selected_line) {
    ui.notify(messages::nothing_selected());
    return {};
  }
  if (!ui.confirm(messages::confirm_account_delete())) return {};

  // A line is a record's stored name, which need not be its file's name; a
  // name that would lead outside "pop3mail\" is never used as a path.
  const bool deleted = is_plain_file_name(*selected_line) &&
                       platform::delete_file(account_record_path(*selected_line));
  if (!deleted) ui.notify(messages::delete_failed());
  AccountDialogUpdate update;
  update.clear_shown_fields = true;
  update.refill_list_box = true;
  return update;
}

}  // namespace larkspur
