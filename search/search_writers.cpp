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

bool add_to_search_index(std::string_view list_name, std::string_view log_path) {
  const std::size_t slash = log_path.rfind('\\');
  const std::string_view log_name = slash == std::string_view::npos ? log_path : log_path.substr(slash + 1);
  const std::string log = platform::read_file(log_path).value_or(std::string{});
  SiteLock lock;
  return add_to_search_index_locked(list_name, log_name, log);
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
