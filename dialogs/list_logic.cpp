#include "dialogs/list_logic.h"

#include <mutex>

#include "dialogs/messages.h"
#include "settings/store.h"

namespace larkspur {

namespace {

// Deletes every file of `folder`. All names are gathered before the first
// deletion, so deleting never disturbs the search, however many there are;
// they are deleted from the last gathered to the first. Sub-folders are not
// files and stay. Returns false when a file could not be deleted.
bool delete_files_in(const std::string& folder) {
  const std::vector<std::string> files = platform::find_files(folder + "\\*.*");
  bool all = true;
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    if (!platform::delete_file(folder + "\\" + *it)) all = false;
  }
  return all;
}

// Deletes the list's folder and web folder with their files. A folder that
// is a link (made by hand, to somewhere else) is no part of the working
// folder: only the link goes, never a file of the folder it points to.
// Returns false when a file or link could not be deleted.
bool delete_list_folders(std::string_view name) {
  const std::string folder = list_folder(name);
  if (platform::is_link(folder)) return platform::remove_link(folder);
  const std::string web = list_web_folder(name);
  const bool web_is_link = platform::is_link(web);
  bool all = web_is_link || delete_files_in(web);
  all = delete_files_in(folder) && all;
  if (web_is_link) {
    all = platform::remove_link(web) && all;
  } else {
    platform::remove_folder(web);
  }
  platform::remove_folder(folder);
  return all;
}

void refill_panel(UserInterface& ui, ListPanelTable& table) {
  refresh_list_panel(table);
  ui.panel_changed();
}

}  // namespace

std::vector<std::string> list_box_lines() { return enumerate_lists(); }

ListFields select_list(std::string_view list_name) {
  const ListRecord record = read_list_or_zero(list_name);
  return ListFields{record.search_text, record.delete_from_server == 0};
}

ListDialogUpdate register_list(const NewListFields& fields, UserInterface& ui,
                               ListPanelTable& table) {
  // The tests run in this order, so with the limit reached the limit message
  // is shown whatever is typed. Every record file counts, even past the
  // kMaxLists that the views take.
  if (count_lists() >= kMaxLists) return with_notice<ListDialogUpdate>(ui, messages::list_limit_reached());
  const std::string name = cut_sjis(fields.name, kMaxSearchText);
  ListRecord record;
  record.search_text = cut_sjis(fields.search_text, kMaxSearchText);
  record.delete_from_server = fields.keep_on_server ? 0 : 1;
  record.new_mail = 0;

  if (name.empty() || record.search_text.empty()) return with_notice<ListDialogUpdate>(ui, messages::fill_every_field());
  // Tested per character: the trail byte of ソ (0x5C) or ポ (0x7C) is part
  // of a Japanese character, not a backslash or a bar.
  if (contains_sjis_char(name, kRefusedNameCharacters)) {
    return with_notice<ListDialogUpdate>(ui, messages::refused_character());
  }
  // A name registered already is written over; its folder and stored
  // messages stay. A record that cannot be written is said so, and the
  // typed fields stay for another try.
  platform::create_folder(list_folder(name));
  if (!write_list(name, record)) {
    // A folder this call made for nothing goes again (it is empty then).
    if (!list_registered(name)) platform::remove_folder(list_folder(name));
    return with_notice<ListDialogUpdate>(ui, messages::save_failed(), OutcomeKind::kFailed);
  }
  refill_panel(ui, table);

  ListDialogUpdate update;
  update.clear_new_fields = true;
  update.refill_list_box = true;
  return update;
}

ListDialogUpdate change_list(const std::optional<std::string>& selected_list,
                             const ListFields& fields, UserInterface& ui,
                             ListPanelTable& table) {
  // The question comes before the selection test.
  if (!ui.confirm(messages::confirm_list_change())) {
    return with_outcome<ListDialogUpdate>(Outcome::declined());
  }
  // A list whose record went away meanwhile (deleted by another program) is
  // not brought back as a record without its folder.
  if (!selected_list || !list_registered(*selected_list)) {
    return with_outcome<ListDialogUpdate>(Outcome::refused(platform::jp("リストが登録されていません。")));
  }

  ListRecord record;
  record.search_text = cut_sjis(fields.search_text, kMaxSearchText);
  // An empty search text would make the list take every message.
  if (record.search_text.empty()) return with_notice<ListDialogUpdate>(ui, messages::fill_every_field());
  record.delete_from_server = fields.keep_on_server ? 0 : 1;
  record.new_mail = 0;  // a whole new record: the mark goes off
  bool written = false;
  {
    // Record and table change together, so a refill running on the receive
    // worker cannot bring back the mark from the record it read just before.
    std::lock_guard refill(table.refill_mutex());
    // The panel shows the cleared mark at once rather than at the next
    // refill; a record that could not be written keeps its mark.
    written = write_list(*selected_list, record);
    if (written) table.mark_list(*selected_list, 0);
  }
  ui.panel_changed();
  if (!written) return with_notice<ListDialogUpdate>(ui, messages::save_failed(), OutcomeKind::kFailed);
  return {};
}

ListDialogUpdate delete_list(const std::optional<std::string>& selected_list, UserInterface& ui,
                             ListPanelTable& table) {
  if (!selected_list) return with_notice<ListDialogUpdate>(ui, messages::nothing_selected());
  if (!ui.confirm(messages::confirm_list_delete())) {
    return with_outcome<ListDialogUpdate>(Outcome::declined());
  }

  const std::string& name = *selected_list;
  // A record file named by hand ".stf" or "...stf" gives the name "" or "..":
  // its "folder" would be LKset\ itself or the working folder, whose files
  // are no part of the list. Only the record goes then.
  ListDialogUpdate update;
  if (is_plain_file_name(name) && !delete_list_folders(name)) {
    update.outcome = Outcome::failed(platform::jp("リストのフォルダーに削除できないファイルが残りました。"));
  }
  if (!platform::delete_file(list_record_path(name))) {
    ui.notify(messages::delete_failed());
    update.outcome = Outcome::failed(messages::delete_failed().text);
  }
  refill_panel(ui, table);

  update.clear_selected_fields = true;
  update.refill_list_box = true;
  return update;
}

}  // namespace larkspur
