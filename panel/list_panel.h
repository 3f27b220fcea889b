// ListPanelTable: the lists the main window shows, with their page paths and
// new-mail marks, refilled from disk by refresh_list_panel. No window code.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/stamped_values.h"
#include "settings/records.h"
#include "settings/store.h"

namespace larkspur {

struct ListPanelSlot {
  std::string list_name;  // empty = free slot
  std::string page_path;  // "LKset\" + name + "\web\index.htm"; empty = free
  std::int32_t new_mail = 0;
};

// 30 slots, used slots first. Readers (paint, hit test, open) take a snapshot;
// refresh_list_panel builds the new content aside and swaps it in under the
// lock, so nobody sees a half-refilled table. Safe from any thread.
class ListPanelTable {
 public:
  using Slots = std::array<ListPanelSlot, kMaxLists>;

  Slots snapshot() const;
  // Number of leading slots with a non-empty page path.
  int shown_count() const;
  // Sets the mark of every slot whose name equals `list_name`.
  void mark_list(std::string_view list_name, std::int32_t value);
  void replace(const Slots& slots);
  // When `index` (0-based) is one of the shown slots, clears its mark and
  // returns the slot as it was; nullopt otherwise. One step under the lock,
  // so the slot cannot change between the test and the clearing.
  std::optional<ListPanelSlot> clear_shown_mark(int index);

  // Held by refresh_list_panel across its whole refill (reading the disk and
  // swapping in) and by open_list_page across clearing a mark in the record
  // and in the table, so a refill that read the record just before cannot
  // bring back a mark that was just cleared. Never held while painting.
  std::mutex& refill_mutex() { return refill_mutex_; }

 private:
  mutable std::mutex mutex_;
  std::mutex refill_mutex_;
  Slots slots_{};
};

// Refills `table` from the records and web folders: in presentation order,
// each list whose "LKset\<name>\web\*.htm" matches a file takes the next slot,
// with its record's new_mail as the mark (0 when unreadable).
void refresh_list_panel(ListPanelTable& table);

// refresh_list_panel for a job that refreshes after every log it stores. It
// remembers whether each list's web folder held a page, with the folder's
// stamp (adding, removing or renaming a page changes it), and reads records
// through `records`, so where nothing changed a list costs two stamps
// instead of opening its index page and its record. Fills the table exactly
// as refresh_list_panel would. One object per job and thread.
class ListPanelRefresher {
 public:
  ListPanelRefresher(ListRecordCache& records, ListNamesCache& list_names)
      : records_(records), list_names_(list_names) {}
  void refresh(ListPanelTable& table);

 private:
  ListRecordCache& records_;
  platform::StampedValues<bool> has_page_;  // by list name, from its web folder's stamp
  ListNamesCache& list_names_;
};

}  // namespace larkspur
