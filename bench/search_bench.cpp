// Full-text search figures over a generated archive of 30 lists x 1,000 logs
// with a realistic Japanese vocabulary (bench/corpus.h):
//   search_corpus_vocabulary       distinct words the text is drawn from
//   search_corpus_logs             the logs' bytes, MB
//   rebuild_30x1000_without_index  the full rebuild of the pages alone (median)
//   rebuild_30x1000_with_index     pages and search index, as the front ends run it
//   rebuild_with_index_vs_without  their ratio
//   rebuild_30x1000_with_new_index the first of those, which builds the index
//                                  from nothing (the later ones keep it)
//   search_index_size_vs_logs      the index's bytes on disk against the logs', %
//   new_log_30x1000_without_index  one stored log's site work in a receive job
//   new_log_30x1000_with_index     the same plus the log's place in the index
// Usage: larkspur_bench_search SEED_FOLDER WORK_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS]]
// WORK_FOLDER is made and filled and left with the archive and its index, for
// bench/search.sh to time the tool and the page on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/support.h"
#include "platform/platform.h"
#include "panel/list_panel.h"
#include "search/search_index.h"
#include "settings/store.h"
#include "site/rebuild.h"
#include "site/site_job.h"

namespace {

using namespace larkspur;
namespace fs = std::filesystem;

std::uintmax_t bytes_below(const fs::path& folder, const std::string& extension) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension)) total += entry.file_size();
  }
  return total;
}

double time_new_logs(const bench::CorpusShape& shape, int runs, int serial_base, bool with_index) {
  bench::YesUi ui;
  ListNamesCache names;
  SiteJob job(ui, names);
  std::vector<double> times;
  for (int run = 0; run < shape.lists + runs; ++run) {
    const std::string name = bench::corpus_list_name(run % shape.lists);
    const std::string path = list_folder(name) + "\\20270101000000_" + std::to_string(serial_base + run + 1) + ".log";
    bench::put_scratch_file(path, bench::realistic_corpus_log(900000 + serial_base + run, shape.log_bytes));
    const auto start = bench::Clock::now();
    job.log_stored(name, path);
    if (with_index) add_logs_to_search_index({{name, {path}}});
    // The first log of each list is the job's first look at it: left out.
    if (run >= shape.lists) times.push_back(bench::seconds_since(start) * 1000);
  }
  return bench::median(times);
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::has_arguments(argc, argv, 2, "SEED_FOLDER WORK_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS]]")) return 2;
  const std::string seeds = fs::absolute(argv[1]).string();
  const fs::path work = fs::absolute(argv[2]);
  const int rebuild_runs = bench::runs_argument(argc, argv, 3, 3);
  const int new_log_runs = bench::runs_argument(argc, argv, 4, 21);
  fs::create_directories(work);
  fs::current_path(work);

  bench::CorpusShape shape;
  const auto generated = bench::Clock::now();
  const int logs = bench::write_realistic_corpus(shape, seeds);
  const double log_bytes = static_cast<double>(bytes_below(work / "LKset", ".log"));
  std::fprintf(stderr, "search corpus: %d logs, %.1f MB, in %.1f s\n", logs, log_bytes / 1e6, bench::seconds_since(generated));

  bench::YesUi ui;
  ListPanelTable table;
  std::vector<double> without;
  std::vector<double> with;
  for (int run = 0; run < rebuild_runs; ++run) {
    auto start = bench::Clock::now();
    rebuild_site(ui, table);
    without.push_back(bench::seconds_since(start));
    start = bench::Clock::now();
    rebuild_site_and_search(ui, table);
    with.push_back(bench::seconds_since(start));
    std::fprintf(stderr, "rebuild run %d: %.2f s without the index, %.2f s with it\n", run + 1, without.back(), with.back());
  }
  const double index_bytes = static_cast<double>(bytes_below(work / "search", ""));
  const double new_log_without = time_new_logs(shape, new_log_runs, 0, false);
  const double new_log_with = time_new_logs(shape, new_log_runs, 1000, true);

  std::printf("search_corpus_vocabulary: %zu words\n", bench::realistic_vocabulary_size());
  std::printf("search_corpus_logs: %.1f MB\n", log_bytes / 1e6);
  std::printf("rebuild_30x1000_without_index: %.2f s\n", bench::median(without));
  std::printf("rebuild_30x1000_with_index: %.2f s\n", bench::median(with));
  std::printf("rebuild_with_index_vs_without: %.2f x\n", bench::median(with) / bench::median(without));
  std::printf("rebuild_30x1000_with_new_index: %.2f s\n", with.front());
  std::printf("search_index_size_vs_logs: %.1f %%\n", index_bytes / log_bytes * 100);
  std::printf("new_log_30x1000_without_index: %.2f ms\n", new_log_without);
  std::printf("new_log_30x1000_with_index: %.2f ms\n", new_log_with);
  std::fflush(stdout);
  return 0;
}
