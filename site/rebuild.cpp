#include "site/rebuild.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/records.h"
#include "settings/store.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/page_io.h"
#include "site/site_lock.h"

namespace larkspur {
namespace {

constexpr std::string_view kRecordExtension = ".stf";

// List names in directory search order (the reverse of presentation order).
std::vector<std::string> lists_in_search_order() {
  std::vector<std::string> names;
  for (const std::string& file : list_record_files()) {
    if (file.size() >= kRecordExtension.size()) {
      names.push_back(file.substr(0, file.size() - kRecordExtension.size()));
    }
  }
  return names;
}

void show_all(UserInterface& ui, const std::vector<Message>& messages) {
  for (const Message& message : messages) ui.notify(message);
}

// Deletes every page of every list, the last found of a folder first; each
// page that stays is reported by its path.
std::vector<Message> delete_all_pages(
    const std::vector<std::string>& lists,
    const std::function<bool(std::string_view path)>& delete_page, Outcome& outcome) {
  std::vector<Message> errors;
  const auto report = [&](const std::string& path) {
    errors.push_back(Message{platform::jp("削除エラー"), path, MessageIcon::information});
    outcome.fail(site_detail::not_deleted_reason(path));
  };
  SiteLock lock;
  for (const std::string& name : lists) {
    // A folder on the way that is a link may lead out of the working folder,
    // where nothing is ever deleted: a linked list folder keeps its pages, a
    // linked web folder is taken for a file and only the link itself goes
    // (the regeneration then makes a real folder).
    if (platform::is_link(kListsFolder) || platform::is_link(list_folder(name))) {
      outcome.fail(site_detail::behind_link_reason(list_folder(name)));
      continue;
    }
    const std::string web_folder = list_web_folder(name);
    if (platform::is_link(web_folder)) {
      if (!platform::remove_link(web_folder)) report(web_folder);
      continue;
    }
    const std::string web = web_folder + "\\";
    const std::vector<std::string> pages = platform::find_files(web + "*.htm");
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
      const std::string path = web + *it;
      if (!delete_page(path)) report(path);
    }
  }
  return errors;
}

std::vector<Message> regenerate_all(const std::vector<std::string>& lists, Outcome& outcome) {
  std::vector<Message> messages;
  SiteLock lock;
  for (const std::string& name : lists) {
    const Outcome list = update_list_pages_locked(list_folder(name), messages, Seeding::missing_pages);
    if (!list.ok()) outcome.fail(list.reason);
  }
  return messages;
}

}  // namespace

Outcome rebuild_site(UserInterface& ui, ListPanelTable& table,
                     const std::function<bool(std::string_view path)>& delete_page) {
  const Message question{platform::jp("確認"),
                         platform::jp("全てのHTML文書を一度全て削除して\n"
                                      "ログファイルからHTML文書を再編成します。\n"
                                      "よろしいですか？"),
                         MessageIcon::question};
  if (!ui.confirm(question)) return Outcome::declined();

  Outcome outcome;
  const std::vector<std::string> lists = lists_in_search_order();
  if (!lists.empty()) {
    // Each pass holds the site lock; its messages are shown once it is free.
    show_all(ui, delete_all_pages(lists, delete_page, outcome));
    show_all(ui, regenerate_all(lists, outcome));
    ui.notify(Message{platform::jp("お知らせ"), platform::jp("全てのHTML文書を再編成しました"),
                      MessageIcon::information});
    const Outcome sorted = sort_link_pages();
    if (!sorted.ok()) outcome.fail(sorted.reason);
  }
  refresh_list_panel(table);
  ui.panel_changed();
  return outcome;
}

Outcome rebuild_site(UserInterface& ui, ListPanelTable& table) {
  return rebuild_site(ui, table, [](std::string_view path) { return platform::delete_file(path); });
}

}  // namespace larkspur
