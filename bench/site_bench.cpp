// Site generator benchmarks over a generated archive of 30 lists x 1,000 logs:
//   rebuild_30x1000  the full rebuild (delete every page, regenerate, sort)
//   new_log_30x1000  one new log: update its list's pages, then sort all lists
// Usage: larkspur_bench_site SEED_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS]]
// Prints "NAME: MEDIAN UNIT" per figure. Runs in a fresh temporary folder.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "platform/platform.h"
#include "settings/list_panel.h"
#include "settings/ui.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/rebuild.h"

namespace {

using namespace larkspur;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class YesUi : public UserInterface {
 public:
  bool confirm(const Message&) override { return true; }
  void notify(const Message& message) override {
    if (message.caption != platform::jp("お知らせ") || message.text != platform::jp("全てのHTML文書を再編成しました")) {
      std::fprintf(stderr, "unexpected message: %s\n", platform::sjis_to_utf8_display(message.text).c_str());
    }
  }
  void panel_changed() override {}
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SEED_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS]]\n", argv[0]);
    return 2;
  }
  const std::string seeds = fs::absolute(argv[1]).string();
  const int rebuild_runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int new_log_runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 21;

  const fs::path work = fs::temp_directory_path() / ("larkspur-site-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  const fs::path previous = fs::current_path();
  fs::current_path(work);

  bench::CorpusShape shape;
  const auto generated = Clock::now();
  const int logs = bench::write_corpus(shape, seeds);
  std::fprintf(stderr, "corpus: %d logs in %s (%.1f s)\n", logs, work.c_str(), seconds_since(generated));

  YesUi ui;
  ListPanelTable table;
  std::vector<double> rebuilds;
  for (int run = 0; run < rebuild_runs; ++run) {
    const auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    rebuild_site(ui, table);
    rebuilds.push_back(seconds_since(start));
    std::fprintf(stderr, "rebuild run %d: %.2f s (processor time %.2f s)\n", run + 1, rebuilds.back(),
                 static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
  }
  if (table.shown_count() != shape.lists) std::fprintf(stderr, "panel shows %d lists\n", table.shown_count());

  std::vector<double> new_logs;
  for (int run = 0; run < new_log_runs; ++run) {
    const int list = run % shape.lists;
    const std::string folder = list_folder(bench::corpus_list_name(list));
    const std::string name = "\\20270101000000_" + std::to_string(run + 1) + ".log";
    bench::put_scratch_file(folder + name, bench::corpus_log(900000 + run, shape.log_bytes));
    const auto start = Clock::now();
    update_list_pages(folder, ui);
    sort_link_pages();
    new_logs.push_back(seconds_since(start) * 1000);
  }

  std::printf("rebuild_30x1000: %.2f s\n", median(rebuilds));
  std::printf("new_log_30x1000: %.1f ms\n", median(new_logs));
  std::fflush(stdout);

  fs::current_path(previous);
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return 0;
}
