#include "panel/open_list_page.h"

#include <mutex>
#include <optional>

#include "settings/store.h"

namespace larkspur {

bool open_list_page(ListPanelTable& table, int slot,
                    const std::function<bool(std::string_view path)>& open_page) {
  // Slot numbers run from 1; anything else names no slot (and slot - 1
  // must not be computed for the smallest int).
  if (slot < 1 || slot > kMaxLists) return false;
  std::optional<ListPanelSlot> opened;
  {
    // The mark goes off in the record and the table together, so a refill
    // running on the receive worker cannot bring back the mark from a record
    // it read just before.
    std::lock_guard refill(table.refill_mutex());
    opened = table.clear_shown_mark(slot - 1);
    if (!opened) return false;
    // Not written back when unreadable: an all-zero record would lose the
    // list's search text.
    set_new_mail(opened->list_name, 0);
  }
  // The result is not examined: a page or browser that is missing fails
  // silently.
  open_page(opened->page_path);
  return true;
}

bool open_list_page(ListPanelTable& table, int slot) {
  return open_list_page(table, slot, platform::open_with_shell);
}

}  // namespace larkspur
