// Not a test itself: writes a small archive with a search index into the
// current folder, for tests/browser/search_run.sh, plus "queries.tsv": 200
// queries cut from the logs (one to six units, some of two words, some found
// nowhere), each with the messages a brute-force scan finds ("list/name"
// joined by "|", sorted), and the same for the tool to compare with.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "platform/platform.h"
#include "search/search_index.h"
#include "search/search_text.h"
#include "settings/records.h"
#include "settings/store.h"
#include "tests/search/generated_logs.h"

namespace {

using namespace larkspur;
using testing::generated_log;

std::string sj(const std::string& utf8) { return platform::utf8_to_sjis(utf8).value_or(""); }

void put(const std::string& path, const std::string& bytes) { platform::write_file_fast(path, bytes); }

}  // namespace

int main() {
  std::mt19937 random(2026);
  create_working_folders();
  const std::string lists[] = {sj("天気"), sj("経済"), sj("週刊ラークスパー")};
  std::map<std::pair<std::string, std::string>, std::u16string> logs;
  int serial = 0;
  for (const std::string& list : lists) {
    put(list_record_path(list), ListRecord{}.encode());
    platform::create_folder(list_folder(list));
    for (int i = 0; i < 80; ++i) {
      // A third of them extended.
      std::string log = generated_log(random, i % 3 == 0, i % 3 == 0 ? 40 : 60);
      // One message tries to put markup and script into the page.
      if (serial == 5) {
        log = log_file_content("<img src=x onerror=\"window.pwned=1\"><script>window.pwned=2</script>",
                               "From: a@example.jp\n" + std::string(100, 'h') + "\n\n" +
                                   "<b onmouseover=\"window.pwned=3\">bold</b> <script>window.pwned=4</script> " + sj("危険") + "\n");
      }
      char name[40];
      std::snprintf(name, sizeof name, "2026%02d%02d%02d%02d00_%d", 1 + i % 12, 1 + i % 28, i % 24, serial % 60, serial + 1);
      ++serial;
      put(list_folder(list) + "\\" + name + ".log", log);
      logs[{list, name}] = platform::fold_for_search(search_text(log));
    }
  }
  platform::sleep_ms(30);  // the logs settled: a rebuild may keep this generation
  if (!build_search_index_locked()) return 1;
  // More stored later: a segment and the tail; then a rebuild, which keeps
  // the generation and makes them one segment (its ids past theirs), and
  // more stored: a segment and the tail again. Their dates fall among the
  // generation's, so newest first interleaves them.
  int stored_logs = 0;
  const auto store = [&](int count) {
    for (int i = stored_logs; i < stored_logs + count; ++i) {
      const std::string list = lists[i % 3];
      char stored[40];
      std::snprintf(stored, sizeof stored, "2026%02d%02d%02d0030_%d", 1 + i * 5 % 12, 1 + i % 28, i % 24, 900 + i);
      const std::string name = stored;
      const std::string log = generated_log(random, false, 50);
      put(list_folder(list) + "\\" + name + ".log", log);
      if (!add_to_search_index_locked(list, name + ".log", log)) return false;
      logs[{list, name}] = platform::fold_for_search(search_text(log));
    }
    stored_logs += count;
    return true;
  };
  if (!store(kMaxSearchTailDocs + 5)) return 1;
  // One log of the generation deleted before the rebuild: its message is
  // marked gone.
  const auto deleted = logs.begin();
  platform::delete_file(list_folder(deleted->first.first) + "\\" + deleted->first.second + ".log");
  logs.erase(deleted);
  if (!build_search_index_locked() || !store(kMaxSearchTailDocs + 5)) return 1;

  std::vector<const std::u16string*> texts;
  for (const auto& entry : logs) texts.push_back(&entry.second);
  const auto cut = [&]() {
    for (;;) {
      const std::u16string& text = *texts[random() % texts.size()];
      const std::size_t length = 1 + random() % 6;
      const std::u16string piece = text.substr(random() % (text.size() - length), length);
      if (!search_words(piece).empty()) return search_words(piece)[0];
    }
  };
  std::ofstream out("queries.tsv", std::ios::binary);
  for (int q = 0; q < 200; ++q) {
    std::u16string query = cut();
    if (q % 5 == 0) query += u" " + cut();
    if (q % 13 == 0) query = u"存在しない" + query;
    const std::vector<std::u16string> ws = search_words(query);
    std::set<std::string> found;
    for (const auto& [key, folded] : logs) {
      if (std::all_of(ws.begin(), ws.end(), [&](const std::u16string& w) { return folded.find(w) != std::u16string::npos; })) {
        found.insert(platform::sjis_to_utf8_display(key.first) + "/" + key.second);
      }
    }
    std::string joined;
    for (const std::string& f : found) joined += (joined.empty() ? "" : "|") + f;
    out << platform::utf16_to_utf8_replacing(query) << '\t' << joined << '\n';
  }
  return 0;
}
