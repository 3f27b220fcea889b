#include "app/commands.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <thread>

#include "app/progress_dialog.h"
#include "app/settings_dialogs.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "resources/app/resource.h"
#include "platform/platform.h"
#include "panel/list_panel.h"
#include "settings/records.h"
#include "search/search_index.h"
#include "site/rebuild.h"

namespace larkspur::app {
namespace {

void help_command() {
  // The help page lies below the working folder; open_with_shell hands the
  // shell its full path (a relative name would be looked up in the program's
  // own folder first). The result is not examined: a missing page fails
  // silently.
  platform::open_with_shell(kHelpPage);
}

void delete_logs_command() {
  const bool rebuild_requested = show_log_deletion_dialog(shell().main_window);
  // The logs are gone whatever the answer to the rebuild: the search forgets
  // them either way.
  if (rebuild_requested && rebuild_command().kind == OutcomeKind::kDeclined) build_search_index();
}

// Opens the search page as a list's name opens its pages. An archive without
// an index gets it built on a thread of its own (the window stays usable);
// the page opens at once and waits for it.
void search_command() {
  static std::atomic<bool> building{false};
  if ((!platform::can_read_file(kSearchState) || !platform::can_read_file(kSearchPage)) && !building.exchange(true)) {
    write_search_page();
    std::thread([] {
      ensure_search_index();
      building = false;
    }).detach();
  }
  platform::open_with_shell(kSearchPage);
}

}  // namespace

Outcome rebuild_command() {
  // While a rebuild waits for a receive job's pages, the window keeps
  // handling messages, so the button can be pressed again: that press is
  // ignored rather than queued as a second rebuild.
  static bool running = false;
  if (running) return Outcome::refused({});
  running = true;
  const Outcome outcome = rebuild_site_and_search(window_ui(), list_panel());
  running = false;
  return outcome;
}

void run_command(int id) {
  switch (id) {
    case ID_CMD_RECEIVE: receive_command(); break;
    case ID_CMD_ACCOUNT: show_account_dialog(shell().main_window); break;
    case ID_CMD_LISTS: show_list_dialog(shell().main_window); break;
    case ID_CMD_REBUILD: rebuild_command(); break;
    case ID_CMD_DELETE_LOGS: delete_logs_command(); break;
    case ID_CMD_HELP: help_command(); break;
    case ID_CMD_SEARCH: search_command(); break;
    default: break;
  }
}

}  // namespace larkspur::app
