#include "panel/list_panel.h"

#include <string>
#include <utility>

#include "settings/store.h"

namespace larkspur {

ListPanelTable::Slots ListPanelTable::snapshot() const {
  std::lock_guard lock(mutex_);
  return slots_;
}

int ListPanelTable::shown_count() const {
  std::lock_guard lock(mutex_);
  int count = 0;
  while (count < kMaxLists && !slots_[count].page_path.empty()) ++count;
  return count;
}

void ListPanelTable::mark_list(std::string_view list_name, std::int32_t value) {
  std::lock_guard lock(mutex_);
  for (ListPanelSlot& slot : slots_) {
    if (!slot.list_name.empty() && slot.list_name == list_name) slot.new_mail = value;
  }
}

void ListPanelTable::replace(const Slots& slots) {
  std::lock_guard lock(mutex_);
  slots_ = slots;
}

std::optional<ListPanelSlot> ListPanelTable::clear_shown_mark(int index) {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= kMaxLists) return std::nullopt;
  for (int i = 0; i <= index; ++i) {
    if (slots_[i].page_path.empty()) return std::nullopt;  // beyond the shown lists
  }
  ListPanelSlot slot = slots_[index];
  slots_[index].new_mail = 0;
  return slot;
}

namespace {

// Refills `table` in presentation order with each of `lists` (as
// enumerate_lists() gives them) for which `has_page(name)` holds, its mark
// from `new_mail(name)`.
template <typename HasPage, typename NewMail>
void refill(ListPanelTable& table, const std::vector<std::string>& lists, HasPage has_page, NewMail new_mail) {
  std::lock_guard refill(table.refill_mutex());
  // Built aside and swapped in whole: a paint never sees a half-filled table.
  ListPanelTable::Slots slots{};
  std::size_t next = 0;
  // enumerate_lists() holds at most the first kMaxLists record files in search
  // order, so the table, the sorter and the dialogs agree on which lists exist.
  for (const std::string& name : lists) {
    if (!has_page(name)) continue;
    ListPanelSlot& slot = slots[next++];
    slot.list_name = name;
    slot.page_path = list_index_page(name);
    slot.new_mail = new_mail(name);
  }
  table.replace(slots);
}

// A list is shown when its web folder holds any page. Its index page nearly
// always is one, and opening it is far cheaper than reading a folder of a
// thousand pages.
bool web_folder_has_page(const std::string& list_name) {
  return platform::can_read_file(list_index_page(list_name)) ||
         platform::any_file_matches(list_web_folder(list_name) + "\\*.htm");
}

}  // namespace

void refresh_list_panel(ListPanelTable& table) {
  refill(table, enumerate_lists(), web_folder_has_page,
         [](const std::string& name) { return read_list_or_zero(name).new_mail; });
}

void ListPanelRefresher::refresh(ListPanelTable& table) {
  // Whether a page is there depends on the web folder's entries alone (an
  // index page that cannot be read still matches "*.htm"), and any change of
  // the entries changes the folder's stamp.
  const auto has_page = [this](const std::string& name) {
    return has_page_.get(name, list_web_folder(name), [&name] { return web_folder_has_page(name); });
  };
  refill(table, list_names_.names(), has_page,
         [this](const std::string& name) { return records_.read(name).value_or(ListRecord{}).new_mail; });
}

}  // namespace larkspur
