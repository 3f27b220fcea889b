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

void ListPanelTable::set_mark(int index, std::int32_t value) {
  if (index < 0 || index >= kMaxLists) return;
  std::lock_guard lock(mutex_);
  slots_[index].new_mail = value;
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

void refresh_list_panel(ListPanelTable& table) {
  std::lock_guard refill(table.refill_mutex());
  // Built aside and swapped in whole: a paint never sees a half-filled table.
  ListPanelTable::Slots slots{};
  std::size_t next = 0;
  // enumerate_lists() holds at most the first kMaxLists record files in search
  // order, so the table, the sorter and the dialogs agree on which lists exist.
  for (const std::string& name : enumerate_lists()) {
    // A list is shown when its web folder holds any page. Its index page
    // nearly always is one, and opening it is far cheaper than reading a
    // folder of a thousand pages.
    std::string index_page = list_index_page(name);
    if (!platform::can_read_file(index_page) &&
        !platform::any_file_matches(list_web_folder(name) + "\\*.htm")) {
      continue;
    }
    ListPanelSlot& slot = slots[next++];
    slot.list_name = name;
    slot.page_path = std::move(index_page);
    slot.new_mail = read_list_or_zero(name).new_mail;
  }
  table.replace(slots);
}

}  // namespace larkspur
