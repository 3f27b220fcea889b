// The confirmed full rebuild of every list's web folder from its logs.
#pragma once

#include <functional>
#include <string_view>

#include "panel/list_panel.h"
#include "settings/outcome.h"
#include "settings/ui.h"

namespace larkspur {

// Asks "確認"; on Yes deletes every page of every list (a page that cannot
// go is reported under "削除エラー" with its path and kept), regenerates
// every web folder, reports "全てのHTML文書を再編成しました", sorts the link
// pages, then refills `table` and calls ui.panel_changed(). With no lists
// only the refill and panel_changed() run; on No nothing happens at all.
// Runs on the user-interface thread; messages are shown only while the site
// lock is free, each in the order the user would meet them step by step.
// Declined on No; failed, with the first reason, when a page could not be
// deleted (or sat behind a linked folder) or a page could not be written;
// done otherwise. The messages are the same in every case.
Outcome rebuild_site(UserInterface& ui, ListPanelTable& table);

// The same with the removal of one page injected (true when removed); tests
// use it to make a page stay. It is called from one thread, in the order of
// the deletion pass.
Outcome rebuild_site(UserInterface& ui, ListPanelTable& table,
                     const std::function<bool(std::string_view path)>& delete_page);

// The same, with `also` run under the site lock on a thread of its own while
// the pages are made again, and finished before the notice (the search index
// is built this way, so no receive writes it in between); it must not write
// into a list's folder. Its failure fails the rebuild. With no lists it runs
// under the lock all the same.
Outcome rebuild_site(UserInterface& ui, ListPanelTable& table, const std::function<Outcome()>& also);

}  // namespace larkspur
