// A click on a list name in the main window: the list's mark goes off, in
// the panel table and in its record, and its index page opens.
#pragma once

#include <functional>
#include <string_view>

#include "panel/list_panel.h"

namespace larkspur {

// For slot number `slot` (1 to kMaxLists, as the panel's hit test gives it):
// when the slot is among the shown lists, clears its mark in `table` and
// new_mail in the list's record (not writing the record at all when it
// cannot be read), then opens the slot's page path with `open_page` and
// returns true. Any other slot number does nothing and returns false. The
// caller redraws the panel.
bool open_list_page(ListPanelTable& table, int slot,
                    const std::function<bool(std::string_view path)>& open_page);
// The same, opening the page with the desktop's default action.
bool open_list_page(ListPanelTable& table, int slot);

}  // namespace larkspur
