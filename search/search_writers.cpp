// The index writers for callers outside the site lock.
#include "platform/platform.h"
#include "search/search_index.h"
#include "site/rebuild.h"
#include "site/site_lock.h"

namespace larkspur {

bool build_search_index() {
  SiteLock lock;
  return build_search_index_locked();
}

bool catch_up_search_index(const std::vector<std::string>& list_names) {
  SiteLock lock;
  return catch_up_search_index_locked(list_names);
}

bool add_logs_to_search_index(const std::map<std::string, std::vector<std::string>>& logs) {
  SiteLock lock;
  return add_logs_to_search_index_locked(logs);
}

bool ensure_search_index() {
  if (platform::can_read_file(kSearchState) && platform::can_read_file(kSearchPage)) return true;
  return build_search_index();
}

}  // namespace larkspur

namespace larkspur {

std::string search_index_not_written_reason() {
  return platform::jp("検索の索引を書き込めませんでした: ") + std::string(kSearchFolder);
}

Outcome rebuild_site_and_search(UserInterface& ui, ListPanelTable& table) {
  return rebuild_site(ui, table, std::function<Outcome()>([] {
    return build_search_index_locked() ? Outcome::done() : Outcome::failed(search_index_not_written_reason());
  }));
}

}  // namespace larkspur
