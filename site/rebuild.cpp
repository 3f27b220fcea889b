#include "site/rebuild.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
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

// A page being regenerated waits under its aside name "~<page>.old" in the
// list folder (site_detail::aside_path), which no search pattern of the
// system matches.
constexpr std::string_view kAsidePrefix = site_detail::kPrivatePrefix;
constexpr std::string_view kAsideSuffix = site_detail::kAsideSuffix;

// Lists are regenerated side by side on this many threads: converting pages
// costs about as much processor time as the disk needs for them.
constexpr unsigned kRebuildThreads = 2;

// The logs of one list are kept in memory between writing the link page and
// writing their pages, up to this many bytes; beyond it they are read again.
constexpr std::size_t kLogCacheBytes = 16 * 1024 * 1024;

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

Message deletion_error(const std::string& path) {
  return Message{platform::jp("削除エラー"), path, MessageIcon::kInformation};
}

// Single-byte ASCII letters upper-cased: the names Windows takes for one.
std::string folded(std::string_view name) {
  std::string key(name);
  for (std::size_t at = 0; at < key.size();) {
    const auto byte = static_cast<unsigned char>(key[at]);
    if (byte >= 'a' && byte <= 'z') key[at] = static_cast<char>(byte - 'a' + 'A');
    at += platform::is_sjis_lead_byte(byte) ? 2 : 1;
  }
  return key;
}

bool ends_with_ascii_nocase(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && folded(name.substr(name.size() - suffix.size())) == folded(suffix);
}

struct SeedPage {
  std::string name;
  std::string bytes;
};

// What the rebuild of one list has to tell, kept until every list is done so
// that the messages come in the order of the two passes.
struct ListResult {
  std::vector<Message> deletion_errors;
  std::vector<Message> messages;
  Outcome deletion;      // of the deletion pass
  Outcome regeneration;  // of the update that follows it
};

using DeletePage = std::function<bool(std::string_view path)>;

// Rebuilds one list's web folder with the result of deleting every page and
// updating the list afresh, then sorting its link page, but keeps the files:
// each page is tested for whether it may be deleted and then held, in place
// where the test needs no trying, else set aside under a private name; a
// page that is made again takes the file held under its name, unwritten when
// its bytes have not changed. Whatever is held and not made again is deleted
// at the end.
class ListRebuild {
 public:
  ListRebuild(const std::string& name, const DeletePage* delete_page, const std::vector<SeedPage>& seeds,
              ListResult& result)
      : folder_(list_folder(name)),
        web_(list_web_folder(name) + "\\"),
        delete_page_(delete_page),
        seeds_(seeds),
        result_(result) {}

  void run() {
    // A folder on the way that is a link may lead out of the working folder,
    // where nothing is ever deleted: a linked list folder keeps its pages, a
    // linked web folder is taken for a file and only the link itself goes.
    // Both are then updated as a receive would.
    if (platform::is_link(kListsFolder) || platform::is_link(folder_)) {
      result_.deletion.fail(site_detail::behind_link_reason(folder_));
      return update_as_receive();
    }
    const std::string web_folder = list_web_folder_path();
    if (platform::is_link(web_folder)) {
      if (!platform::remove_link(web_folder)) report_kept(web_folder);
      return update_as_receive();
    }
    set_pages_aside();
    regenerate();
    for (const auto& [page, waiting] : aside_) {
      if (waiting) platform::delete_file(aside_path(page));
    }
    for (const auto& [page, waiting] : held_) {
      if (waiting) platform::delete_file(web_ + page);
    }
  }

 private:
  std::string list_web_folder_path() const { return web_.substr(0, web_.size() - 1); }
  std::string aside_path(std::string_view page) const { return site_detail::aside_path(web_ + std::string(page)); }

  void update_as_receive() {
    const Outcome outcome = update_list_pages_locked(folder_, result_.messages, Seeding::kMissingPages);
    if (!outcome.ok()) result_.regeneration.fail(outcome.reason);
  }

  void report_kept(const std::string& path) {
    result_.deletion_errors.push_back(deletion_error(path));
    result_.deletion.fail(site_detail::not_deleted_reason(path));
  }

  // The deletion: every page from the last found to the first. Files left
  // aside by an earlier rebuild that was cut short are taken up as well;
  // what a writer stopped half-way left in the web folder goes.
  void set_pages_aside() {
    site_detail::sweep_page_leftovers(folder_);
    for (const std::string& name : platform::find_files(folder_ + "\\" + std::string(kAsidePrefix) + "*" +
                                                        std::string(kAsideSuffix))) {
      // Only what our own names can be: "~" + page + ".old".
      std::string page = name.substr(kAsidePrefix.size(), name.size() - kAsidePrefix.size() - kAsideSuffix.size());
      if (ends_with_ascii_nocase(page, kPageExtension)) aside_.emplace(std::move(page), true);
    }
    std::vector<std::string> pages;
    for (platform::DirEntry& entry : platform::find_entries(web_ + "*")) {
      if (entry.is_folder) continue;
      if (ends_with_ascii_nocase(entry.name, kPageExtension)) pages.push_back(std::move(entry.name));
    }
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
      const std::string path = web_ + *it;
      bool gone;
      if (delete_page_ != nullptr) {
        // An injected deletion removes the page itself; what it leaves is
        // still held, so the file can be reused.
        gone = (*delete_page_)(path);
        if (gone) hold(*it);
      } else {
        gone = hold(*it);
      }
      if (!gone) {
        report_kept(path);
        kept_.insert(*it);
        kept_folded_.insert(folded(*it));
      }
    }
  }

  // Holds the page `page` for its replacement; false when it may not go.
  bool hold(const std::string& page) {
    const platform::FileHold hold = platform::hold_for_replacement(web_ + page, aside_path(page));
    if (hold == platform::FileHold::kInPlace) {
      held_.emplace(page, true);
    } else if (hold == platform::FileHold::kAside) {
      aside_[page] = true;
    }
    return hold != platform::FileHold::kRefused;
  }

  // True when a page of this name (as Windows compares names) is in the
  // folder now, as opening it would tell.
  bool exists_now(const std::string& page) const {
    if (present_.contains(page)) return true;
    return present_folded_.contains(folded(page)) && platform::can_read_file(web_ + page);
  }
  void mark_present(const std::string& page) {
    present_.insert(page);
    present_folded_.insert(folded(page));
  }

  // Writes the page `page`, into the file held under its name if any.
  bool replace(const std::string& page, std::string_view bytes) {
    const std::string path = web_ + page;
    auto aside = aside_.find(page);
    auto held = held_.find(page);
    if (held != held_.end() && held->second) {
      held->second = false;
      return platform::replace_held(platform::FileHold::kInPlace, path, aside_path(page), bytes);
    }
    if (aside != aside_.end() && aside->second) {
      aside->second = false;
      return platform::replace_held(platform::FileHold::kAside, path, aside_path(page), bytes);
    }
    return site_detail::write_page(path, bytes);
  }

  bool write_owed(const std::string& page, std::string_view bytes) {
    const bool written = replace(page, bytes);
    if (!written) result_.regeneration.fail(site_detail::not_written_reason(web_ + page));
    return written;
  }

  void regenerate() {
    platform::create_folder(list_web_folder_path());
    for (const std::string& page : kept_) mark_present(page);

    // Every seed page the folder lacks; the link page's copy is written
    // once, below, with its link lines.
    std::optional<std::string> menu;
    bool menu_kept = false;
    const std::string menu_name = "menu.htm";
    for (const SeedPage& seed : seeds_) {
      if (kept_.contains(seed.name) || exists_now(seed.name)) continue;
      if (seed.name == menu_name) {
        menu = seed.bytes;
        mark_present(seed.name);
        continue;
      }
      if (write_owed(seed.name, seed.bytes)) mark_present(seed.name);
    }
    if (!menu && exists_now(menu_name)) {
      menu = platform::read_file(web_ + menu_name);
      menu_kept = true;
    }

    // down.htm, unless a kept one holds its bytes already.
    if (!(kept_folded_.contains(folded("down.htm")) && down_page_is_current(list_web_folder_path()))) {
      write_owed("down.htm", down_page());
    }
    if (platform::can_read_file(web_ + "down.htm")) mark_present("down.htm");

    // The logs without a page, as the update finds them.
    std::vector<OwedLog> pending;
    std::unordered_set<std::string> taken;
    for (const std::string& name : platform::find_files(folder_ + "\\*.log")) {
      if (name.size() < kLogExtension.size()) continue;
      std::string page = page_name_of_log(name);
      if (taken.contains(page) || exists_now(page)) continue;
      taken.insert(page);
      std::string page_path = web_ + page;
      pending.push_back({folder_ + "\\" + name, std::move(page), std::move(page_path), false, false});
    }

    // The link page is written already in the order the final sort gives it;
    // every page goes into the file held under its name.
    PageWriting writing;
    writing.link_limit = link_page_limit();
    writing.write_link_page = [this, &menu_name](const std::string&, std::string bytes) {
      std::optional<std::string> sorted = sort_link_page(bytes);
      return replace(menu_name, sorted ? *sorted : bytes);
    };
    writing.write_log_page = [this](const std::string& path, std::string_view bytes) {
      return replace(path.substr(web_.size()), bytes);
    };
    writing.log_cache_bytes = kLogCacheBytes;
    const Outcome owed = write_owed_pages(web_ + menu_name, menu.value_or(std::string()), menu && !menu_kept,
                                          pending, writing, result_.messages);
    if (!owed.ok()) result_.regeneration.fail(owed.reason);
  }

  const std::string folder_;
  const std::string web_;  // with its trailing backslash
  const DeletePage* delete_page_;
  const std::vector<SeedPage>& seeds_;
  ListResult& result_;
  std::unordered_map<std::string, bool> aside_;  // page name -> its file waits aside
  // Pages that may go, held under their own names: page name -> still waiting
  // to be made again (or deleted at the end).
  std::unordered_map<std::string, bool> held_;
  std::unordered_set<std::string> kept_;          // pages that could not go
  std::unordered_set<std::string> kept_folded_;
  std::unordered_set<std::string> present_;  // pages in the folder during the regeneration
  std::unordered_set<std::string> present_folded_;
};

std::vector<SeedPage> read_seed_pages() {
  std::vector<SeedPage> seeds;
  for (std::string& name : platform::find_files(kSeedPattern)) {
    // A seed page that cannot be read is not copied, as by the update.
    std::optional<std::string> bytes = platform::read_file(std::string(kSeedFolder) + name);
    if (bytes) seeds.push_back({std::move(name), std::move(*bytes)});
  }
  return seeds;
}

std::vector<ListResult> rebuild_lists(const std::vector<std::string>& lists, const DeletePage* delete_page,
                                      const std::function<Outcome()>* also, Outcome& also_outcome) {
  std::vector<ListResult> results(lists.size());
  SiteLock lock;
  // `also` reads the logs, which the regeneration never writes, and writes
  // nothing of a web folder: it runs beside the lists' threads (the processor
  // time a list leaves while it waits for the disk goes to it) and is joined
  // before the lock is let go.
  std::optional<std::jthread> beside;
  if (also != nullptr) beside.emplace([also, &also_outcome] { also_outcome = (*also)(); });
  const std::vector<SeedPage> seeds = read_seed_pages();
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t index = next++; index < lists.size(); index = next++) {
      ListRebuild(lists[index], delete_page, seeds, results[index]).run();
    }
  };
  // An injected deletion is called from one thread, in the order of the
  // deletion pass, as its caller expects.
  const unsigned threads =
      delete_page != nullptr
          ? 1u
          : std::min<unsigned>({kRebuildThreads, std::max(1u, std::thread::hardware_concurrency()),
                                static_cast<unsigned>(lists.size())});
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  beside.reset();  // joins
  return results;
}

Outcome rebuild(UserInterface& ui, ListPanelTable& table, const DeletePage* delete_page,
                const std::function<Outcome()>* also = nullptr) {
  const Message question{platform::jp("確認"),
                         platform::jp("全てのHTML文書を一度全て削除して\n"
                                      "ログファイルからHTML文書を再編成します。\n"
                                      "よろしいですか？"),
                         MessageIcon::kQuestion};
  if (!ui.confirm(question)) return Outcome::declined();

  Outcome outcome;
  Outcome also_outcome;
  const std::vector<std::string> lists = lists_in_search_order();
  if (lists.empty() && also != nullptr) {
    SiteLock lock;
    also_outcome = (*also)();
  }
  if (!lists.empty()) {
    // The work holds the site lock; the messages are shown once it is free,
    // the deletion errors of every list first, as the deletion pass comes
    // before the regeneration.
    const std::vector<ListResult> results = rebuild_lists(lists, delete_page, also, also_outcome);
    for (const ListResult& result : results) show_all(ui, result.deletion_errors);
    for (const ListResult& result : results) show_all(ui, result.messages);
    for (const ListResult& result : results) {
      if (!result.deletion.ok()) outcome.fail(result.deletion.reason);
    }
    for (const ListResult& result : results) {
      if (!result.regeneration.ok()) outcome.fail(result.regeneration.reason);
    }
    if (!also_outcome.ok()) outcome.fail(also_outcome.reason);
    ui.notify(Message{platform::jp("お知らせ"), platform::jp("全てのHTML文書を再編成しました"),
                      MessageIcon::kInformation});
    // The link pages are in order already; this finds nothing to change
    // unless someone wrote one meanwhile.
    const Outcome sorted = sort_link_pages();
    if (!sorted.ok()) outcome.fail(sorted.reason);
  }
  if (lists.empty() && !also_outcome.ok()) outcome.fail(also_outcome.reason);
  refresh_list_panel(table);
  ui.panel_changed();
  return outcome;
}

}  // namespace

Outcome rebuild_site(UserInterface& ui, ListPanelTable& table, const DeletePage& delete_page) {
  return rebuild(ui, table, &delete_page);
}

Outcome rebuild_site(UserInterface& ui, ListPanelTable& table) { return rebuild(ui, table, nullptr); }

Outcome rebuild_site(UserInterface& ui, ListPanelTable& table, const std::function<Outcome()>& also) {
  return rebuild(ui, table, nullptr, &also);
}

}  // namespace larkspur
