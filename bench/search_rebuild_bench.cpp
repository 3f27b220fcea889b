// The rebuild figures of bench/search_bench.cpp alone, over an archive made
// once: for comparing the rebuild with and without the search index over
// many alternating runs, or for profiling one of them.
//   larkspur_bench_search_rebuild SEED_FOLDER WORK_FOLDER [RUNS [MODE]]
// WORK_FOLDER is filled with the realistic corpus unless it holds one
// already. MODE: "both" (default) alternates the rebuild without and with the
// index; "with" or "without" runs only that one; "index" builds the index
// alone (no pages).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "panel/list_panel.h"
#include "search/search_index.h"
#include "site/rebuild.h"

namespace {

using namespace larkspur;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class YesUi : public UserInterface {
 public:
  bool confirm(const Message&) override { return true; }
  void notify(const Message&) override {}
  void panel_changed() override {}
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SEED_FOLDER WORK_FOLDER [RUNS [both|with|without|index]]\n", argv[0]);
    return 2;
  }
  const std::string seeds = fs::absolute(argv[1]).string();
  const fs::path work = fs::absolute(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::string mode = argc > 4 ? argv[4] : "both";
  fs::create_directories(work);
  fs::current_path(work);
  if (!fs::exists(work / "LKset")) {
    const auto generated = Clock::now();
    const int logs = bench::write_realistic_corpus(bench::CorpusShape{}, seeds);
    std::fprintf(stderr, "search corpus: %d logs in %.1f s\n", logs, seconds_since(generated));
  }

  YesUi ui;
  ListPanelTable table;
  std::vector<double> without;
  std::vector<double> with;
  for (int run = 0; run < runs; ++run) {
    if (mode == "both" || mode == "without") {
      const auto start = Clock::now();
      rebuild_site(ui, table);
      without.push_back(seconds_since(start));
    }
    if (mode == "both" || mode == "with") {
      const auto start = Clock::now();
      rebuild_site_and_search(ui, table);
      with.push_back(seconds_since(start));
    }
    if (mode == "index") {
      const auto start = Clock::now();
      build_search_index();
      with.push_back(seconds_since(start));
    }
    std::fprintf(stderr, "run %d: %.2f s without the index, %.2f s with it\n", run + 1,
                 without.empty() ? 0.0 : without.back(), with.empty() ? 0.0 : with.back());
  }
  if (!without.empty()) std::printf("rebuild_30x1000_without_index: %.2f s\n", median(without));
  if (!with.empty()) std::printf("rebuild_30x1000_with_index: %.2f s\n", median(with));
  if (!without.empty() && !with.empty()) {
    std::printf("rebuild_with_index_vs_without: %.2f x\n", median(with) / median(without));
  }
  return 0;
}
