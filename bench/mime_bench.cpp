// Mail decoder benchmarks over hostile messages generated at run time
// (tests/support/hostile_mail.h):
//   hostile_mail_scaling         for the shape that scales worst, the time of
//                                a 16 MB message over 16 times the time of a
//                                1 MB one (1.0: linear; a quadratic decoder
//                                gives about 16)
//   hostile_mail_slowest_16mb    the slowest shape's time for 16 MB
//   decode_peak_memory_nested    peak resident size of a process decoding a
//                                message of message/rfc822 parts nested 15
//                                deep around a 60 MB text body
//   decode_peak_memory_base64    the same for a 50 MB base64 text part
//   decode_peak_memory_vs_budget the larger of the two over its budget, three
//                                times the message plus 32 MiB (at most 1.0)
// Every decoder of a receive is run on each message: the subject, the
// extended log text, the classic encoded-word and JIS converters and the
// classic page converter.
// Usage: larkspur_bench_mime [scaling [SMALL_KIB BIG_KIB] | memory]
// (no argument: both). Prints "NAME: MEDIAN UNIT" per figure; each shape's
// times go to stderr.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "retrieval/decode.h"
#include "retrieval/mime.h"
#include "site/log_page.h"
#include "tests/support/hostile_mail.h"

namespace {

using namespace larkspur;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1024 * 1024;

// Keeps the optimizer from dropping a result.
volatile std::size_t g_sink = 0;
void sink(std::size_t n) { g_sink = g_sink + n; }

void decode_all(const std::string& message) {
  sink(extended_subject(message).size());
  sink(extended_log_text(message).size());
  sink(decode_encoded_words(message).size());
  sink(jis_to_sjis_subject(message).size());
  sink(jis_to_sjis_line(message).size());
  sink(convert_log_body(message).size());
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double time_decode(const testing::HostileShape& shape, std::size_t bytes, int runs) {
  const std::string message = testing::hostile_message(shape, bytes);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    decode_all(message);
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return median(times);
}

void scaling(std::size_t small_kib, std::size_t big_kib) {
  double worst_ratio = 0;
  double slowest = 0;
  const double factor = static_cast<double>(big_kib) / static_cast<double>(small_kib);
  for (const testing::HostileShape& shape : testing::kHostileShapes) {
    const double small = time_decode(shape, small_kib * 1024, 5);
    const double big = time_decode(shape, big_kib * 1024, 3);
    const double ratio = big / (factor * small);
    std::fprintf(stderr, "%-24s %6zu KiB %8.4f s  %6zu KiB %8.4f s  ratio %.2f\n",
                 std::string(shape.name).c_str(), small_kib, small, big_kib, big, ratio);
    worst_ratio = std::max(worst_ratio, ratio);
    slowest = std::max(slowest, big);
  }
  std::printf("hostile_mail_scaling: %.2f ratio\n", worst_ratio);
  std::printf("hostile_mail_slowest_%zumb: %.3f s\n", big_kib / 1024, slowest);
}

// The peak resident size, in bytes, of a child process that builds
// `message` and decodes it as a receive does (the log text and the subject).
std::size_t peak_of_decoding(std::string (*make)(), bool decode) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const std::string message = make();
    if (decode) {
      sink(extended_subject(message).size());
      sink(extended_log_text(message).size());
    }
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "memory benchmark child failed\n");
    std::exit(1);
  }
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

std::string nested_messages() {
  std::string message;
  for (int i = 0; i < 15; ++i) message += "Subject: level\nContent-Type: message/rfc822\n\n";
  message += "Subject: body\nContent-Type: text/plain; charset=us-ascii\n\n";
  const std::string line(71, 'x');
  while (message.size() < 60 * kMiB) message += line + "\n";
  return message;
}

std::string base64_text() {
  std::string message = "Subject: b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n";
  // "あいう" and a line end, as UTF-8 in base64.
  while (message.size() < 50 * kMiB) message += "44GC44GE44GGCuOBguOBhOOBhgrjgYLjgYTjgYYK44GC44GE44GGCuOBguOBhOOB\n";
  return message;
}

void memory() {
  double worst = 0;
  struct Case {
    const char* name;
    std::string (*make)();
  };
  for (const Case& c : {Case{"nested", nested_messages}, Case{"base64", base64_text}}) {
    const std::size_t size = c.make().size();
    const std::size_t peak = peak_of_decoding(c.make, true);
    const std::size_t alone = peak_of_decoding(c.make, false);
    std::fprintf(stderr, "%s: message %.1f MiB, building it alone %.1f MiB\n", c.name,
                 static_cast<double>(size) / kMiB, static_cast<double>(alone) / kMiB);
    std::printf("decode_peak_memory_%s: %.1f MiB\n", c.name, static_cast<double>(peak) / kMiB);
    worst = std::max(worst, static_cast<double>(peak) / static_cast<double>(3 * size + 32 * kMiB));
  }
  std::printf("decode_peak_memory_vs_budget: %.2f ratio\n", worst);
}

}  // namespace

int main(int argc, char** argv) {
  const bool all = argc < 2;
  if (all || std::strcmp(argv[1], "scaling") == 0) {
    const std::size_t small = argc >= 4 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::size_t big = argc >= 4 ? std::strtoul(argv[3], nullptr, 10) : 16 * 1024;
    scaling(small, big);
  }
  if (all || std::strcmp(argv[1], "memory") == 0) memory();
  return 0;
}
