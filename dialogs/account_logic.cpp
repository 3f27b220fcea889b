#include "dialogs/account_logic.h"

#include <cstdint>

#include "dialogs/messages.h"
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

bool is_usable_account_name(std::string_view name) {
  if (!is_plain_file_name(name)) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  // Tested per character: a trail byte may equal one of these.
  return !contains_sjis_char(name, ":*?\"<>|");
}

AccountDialogUpdate register_account(const NewAccountFields& fields, UserInterface& ui) {
  AccountRecord record;
  record.account_name = cut_sjis(fields.account_name, kMaxAccountField);
  record.server = cut_sjis(fields.server, kMaxAccountField);
  record.user_name = cut_sjis(fields.user_name, kMaxAccountField);
  record.password = cut_sjis(fields.password, kMaxAccountField);
  record.options = fields.extended_mail ? kAccountOptionExtendedMail : 0;

  // The one-account rule comes first: with an account registered, this is the
  // message whatever was typed.
  if (!account_record_files().empty()) return with_notice<AccountDialogUpdate>(ui, messages::one_account_only());
  if (record.account_name.empty() || record.server.empty() || record.user_name.empty() ||
      record.password.empty()) {
    return with_notice<AccountDialogUpdate>(ui, messages::fill_every_field());
  }
  // A name the file system would refuse is refused here with a word, and
  // the typed fields (the password among them) stay for a second try.
  if (!is_usable_account_name(record.account_name)) {
    return with_notice<AccountDialogUpdate>(ui, messages::account_name_refused());
  }
  if (!write_account(record)) return with_notice<AccountDialogUpdate>(ui, messages::save_failed(), OutcomeKind::kFailed);
  AccountDialogUpdate update;
  update.clear_new_fields = true;
  update.refill_list_box = true;
  return update;
}

bool has_extended_mail(const AccountRecord& record) {
  return (record.options & kAccountOptionExtendedMail) != 0;
}

AccountDialogUpdate set_extended_mail(const std::optional<std::string>& selected_line, bool on,
                                      UserInterface& ui) {
  if (!selected_line) return with_notice<AccountDialogUpdate>(ui, messages::nothing_selected());
  const auto failed = [&ui] {
    return with_notice<AccountDialogUpdate>(ui, messages::save_failed(), OutcomeKind::kFailed);
  };
  // A line is a record's stored name; one that would lead outside
  // "pop3mail\" is never used as a path.
  if (!is_plain_file_name(*selected_line)) return failed();
  const std::string path = account_record_path(*selected_line);
  std::optional<std::string> bytes = platform::read_file(path, AccountRecord::kSize);
  // A record that cannot be read now is left alone: rewriting it from a
  // zeroed record would wipe the server, user name and password.
  if (!bytes) return failed();
  bytes->resize(AccountRecord::kSize, '\0');

  const std::int32_t options = AccountRecord::decode(*bytes).options;
  const std::int32_t wanted =
      on ? (options | kAccountOptionExtendedMail) : (options & ~kAccountOptionExtendedMail);
  if (wanted == options) return {};
  // Changed in place in the bytes as read, so every other byte (other
  // option bits, bytes past a text's terminator) stays as it was.
  const auto bits = static_cast<std::uint32_t>(wanted);
  for (std::size_t i = 0; i < 4; ++i) {
    (*bytes)[AccountRecord::kOptionsOffset + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  }
  if (!platform::write_file_atomic(path, *bytes)) return failed();
  return {};
}

AccountDialogUpdate delete_account(const std::optional<std::string>& selected_line,
                                   UserInterface& ui) {
  if (!selected_line) return with_notice<AccountDialogUpdate>(ui, messages::nothing_selected());
  if (!ui.confirm(messages::confirm_account_delete())) {
    return with_outcome<AccountDialogUpdate>(Outcome::declined());
  }

  // A line is a record's stored name, which need not be its file's name; a
  // name that would lead outside "pop3mail\" is never used as a path.
  const bool deleted = is_plain_file_name(*selected_line) &&
                       platform::delete_file(account_record_path(*selected_line));
  AccountDialogUpdate update;
  if (!deleted) {
    ui.notify(messages::delete_failed());
    update.outcome = Outcome::failed(messages::delete_failed().text);
  }
  update.clear_shown_fields = true;
  update.refill_list_box = true;
  return update;
}

}  // namespace larkspur
