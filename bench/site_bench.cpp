// Site generator benchmarks over a generated archive of 30 lists x 1,000 logs:
//   rebuild_30x1000        the full rebuild, median of all runs; _first and
//                          _later (median of runs 2..) apart, and the slowest
//                          run against the first
//   rebuild_floor_30x1000  the I/O floor of the same work on the same folder:
//                          every log read once, every page's bytes
//                          overwritten in place, nothing else
//   rebuild_vs_floor       rebuild_30x1000_later / rebuild_floor_30x1000
//   rebuild_peak_memory    the process's peak resident size after the rebuilds
//   new_log_30x1000        one stored log in a receive job (SiteJob) that has
//                          stored a log in every list before; _first: the
//                          job's first log of a list
// With a third argument "scaling" it instead grows the archive from 30x100 to
// 30x1000 to 30x3000 and prints the later-run rebuild and new_log for each,
// and new_log_30x3000_uncapped: the same with link pages of no size limit
// (extended mail handling), past which the classic limit refuses the link.
// Usage: larkspur_bench_site SEED_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS [scaling]]]
// Prints "NAME: MEDIAN UNIT" per figure. Runs in a fresh temporary folder.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/support.h"
#include "platform/platform.h"
#include "panel/list_panel.h"
#include "settings/store.h"
#include "settings/ui.h"
#include "site/link_sort.h"
#include "site/list_pages.h"
#include "site/rebuild.h"
#include "site/site_job.h"

namespace {

using namespace larkspur;
namespace fs = std::filesystem;

fs::path native(const std::string& sjis) {
  std::string utf8 = platform::sjis_to_utf8(sjis).value_or(std::string());
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return fs::path(utf8);
}

// Peak resident size of this process (Linux), in MiB.
double peak_memory_mib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

struct RebuildTimes {
  std::vector<double> runs;
  double first() const { return runs.front(); }
  double later() const { return bench::median(std::vector<double>(runs.begin() + (runs.size() > 1 ? 1 : 0), runs.end())); }
  double slowest_vs_first() const { return *std::max_element(runs.begin(), runs.end()) / runs.front(); }
};

RebuildTimes time_rebuilds(int runs, int lists) {
  bench::YesUi ui;
  ListPanelTable table;
  RebuildTimes times;
  for (int run = 0; run < runs; ++run) {
    const auto start = bench::Clock::now();
    const std::clock_t cpu = std::clock();
    rebuild_site(ui, table);
    times.runs.push_back(bench::seconds_since(start));
    std::fprintf(stderr, "rebuild run %d: %.2f s (processor time %.2f s)\n", run + 1, times.runs.back(),
                 static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
  }
  if (table.shown_count() != lists) std::fprintf(stderr, "panel shows %d lists\n", table.shown_count());
  return times;
}

// One receive job storing logs: first one log in every list (the job's first
// look at each), then `runs` more, each timed with its site work.
struct NewLogTimes {
  double first_ms = 0;
  double later_ms = 0;
};
NewLogTimes time_new_logs(const bench::CorpusShape& shape, int runs, int serial_base) {
  bench::YesUi ui;
  ListNamesCache names;
  SiteJob job(ui, names);
  std::vector<double> first;
  std::vector<double> later;
  for (int run = 0; run < shape.lists + runs; ++run) {
    const int list = run % shape.lists;
    const std::string name = bench::corpus_list_name(list);
    const std::string path =
        list_folder(name) + "\\20270101000000_" + std::to_string(serial_base + run + 1) + ".log";
    bench::put_scratch_file(path, bench::corpus_log(900000 + serial_base + run, shape.log_bytes));
    const auto start = bench::Clock::now();
    job.log_stored(name, path);
    (run < shape.lists ? first : later).push_back(bench::seconds_since(start) * 1000);
  }
  return {bench::median(first), bench::median(later)};
}

// Reads every log once and overwrites each page's bytes in place (the log's
// bytes stand for the page's: about the same size), without truncating or
// replacing the file, nothing else.
double time_floor(const bench::CorpusShape& shape) {
  const auto start = bench::Clock::now();
  for (int l = 0; l < shape.lists; ++l) {
    const std::string name = bench::corpus_list_name(l);
    const fs::path folder = native(list_folder(name));
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() != ".log") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes(static_cast<std::size_t>(entry.file_size()), '\0');
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      fs::path page = folder / "web" / entry.path().filename();
      page.replace_extension(".htm");
      std::fstream out(page, std::ios::binary | std::ios::in | std::ios::out);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  return bench::seconds_since(start);
}

int run_scaling(const std::string& seeds, int rebuild_runs, int new_log_runs) {
  bench::CorpusShape shape;
  int have = 0;
  for (int size : {100, 1000, 3000}) {
    shape.logs_per_list = size;
    bench::write_corpus(shape, seeds, have);
    have = size;
    const RebuildTimes times = time_rebuilds(rebuild_runs, shape.lists);
    const NewLogTimes logs = time_new_logs(shape, new_log_runs, size * 100);
    std::printf("rebuild_30x%d_later: %.2f s\n", size, times.later());
    std::printf("rebuild_30x%d_per_log: %.1f us\n", size, times.later() / (30.0 * size) * 1e6);
    std::printf("new_log_30x%d: %.2f ms\n", size, logs.later_ms);
    if (size == 3000) {
      // At 3,000 links a classic link page is past its size limit: the new
      // link line is refused with the size message, which is less work. An
      // account with extended mail handling has no limit, so here every new
      // log's link line goes in and is sorted.
      platform::create_folder("pop3mail");
      AccountRecord account;
      account.account_name = "bench";
      account.options = kAccountOptionExtendedMail;
      write_account(account);
      const NewLogTimes uncapped = time_new_logs(shape, new_log_runs, size * 100 + 1000);
      std::printf("new_log_30x%d_uncapped: %.2f ms\n", size, uncapped.later_ms);
      platform::delete_file("pop3mail\\bench.stf");
    }
    std::fflush(stdout);
    // The stored logs stay: the next size starts from this archive.
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::has_arguments(argc, argv, 1, "SEED_FOLDER [REBUILD_RUNS [NEW_LOG_RUNS [scaling]]]")) return 2;
  const std::string seeds = fs::absolute(argv[1]).string();
  const int rebuild_runs = bench::runs_argument(argc, argv, 2, 5);
  const int new_log_runs = bench::runs_argument(argc, argv, 3, 21);
  const bool scaling = argc > 4 && std::string(argv[4]) == "scaling";

  const fs::path work = fs::temp_directory_path() / ("larkspur-site-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  const fs::path previous = fs::current_path();
  fs::current_path(work);

  int status = 0;
  if (scaling) {
    status = run_scaling(seeds, rebuild_runs, new_log_runs);
  } else {
    bench::CorpusShape shape;
    const auto generated = bench::Clock::now();
    const int logs = bench::write_corpus(shape, seeds);
    std::fprintf(stderr, "corpus: %d logs in %s (%.1f s)\n", logs, work.c_str(), bench::seconds_since(generated));

    const RebuildTimes times = time_rebuilds(rebuild_runs, shape.lists);
    const double memory = peak_memory_mib();
    const NewLogTimes new_logs = time_new_logs(shape, new_log_runs, 0);
    const double floor = time_floor(shape);

    std::printf("rebuild_30x1000: %.2f s\n", bench::median(times.runs));
    std::printf("rebuild_30x1000_first: %.2f s\n", times.first());
    std::printf("rebuild_30x1000_later: %.2f s\n", times.later());
    std::printf("rebuild_30x1000_slowest_vs_first: %.2f x\n", times.slowest_vs_first());
    std::printf("rebuild_floor_30x1000: %.2f s\n", floor);
    std::printf("rebuild_vs_floor: %.2f x\n", times.later() / floor);
    std::printf("rebuild_peak_memory: %.1f MiB\n", memory);
    std::printf("new_log_30x1000: %.2f ms\n", new_logs.later_ms);
    std::printf("new_log_30x1000_first: %.2f ms\n", new_logs.first_ms);
  }
  std::fflush(stdout);

  fs::current_path(previous);
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return status;
}
