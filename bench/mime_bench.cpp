// Mail decoder benchmarks over hostile messages generated at run time
// (tests/support/hostile_mail.h):
//   hostile_mail_scaling         for the shape that scales worst, the time of
//                                a 16 MB message over 16 times the time of a
//                                1 MB one (1.0: linear; a quadratic decoder
//                                gives about 16)
//   hostile_mail_slowest_16mb    the slowest shape's time for 16 MB
//   decode_peak_memory_nested    peak resident size of a process decoding a
//                                message of message/rfc822 parts nested 15
//                                deep around a 60 MB text body (_vs_budget:
//                                over three times the message plus 32 MiB,
//                                at most 1.0)
//   decode_peak_memory_base64    the same for a 50 MB base64 text part
// Every decoder of a receive is run on each message: the subject, the
// extended log text, the classic encoded-word and JIS converters and the
// classic page converter.
// Usage: larkspur_bench_mime [scaling [SMALL_KIB BIG_KIB] | memory nested|base64]
// (no argument: scaling; each memory figure needs a process of its own). Prints "NAME: MEDIAN UNIT" per figure; each shape's
// times go to stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "retrieval/decode.h"
#include "retrieval/mime.h"
#include "site/log_page.h"
#include "bench/support.h"
#include "tests/support/hostile_mail.h"

namespace {

using namespace larkspur;

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

double time_decode(const testing::HostileShape& shape, std::size_t bytes, int runs) {
  const std::string message = testing::hostile_message(shape, bytes);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const bench::Clock::time_point start = bench::Clock::now();
    decode_all(message);
    times.push_back(std::chrono::duration<double>(bench::Clock::now() - start).count());
  }
  return bench::median(times);
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

// Peak resident size of this process (Linux), in bytes.
std::size_t peak_memory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return static_cast<std::size_t>(std::atoll(line.c_str() + 6)) * 1024;
  }
  return 0;
}

std::string nested_messages() {
  std::string message;
  message.reserve(61 * kMiB);
  for (int i = 0; i < 15; ++i) message += "Subject: level\nContent-Type: message/rfc822\n\n";
  message += "Subject: body\nContent-Type: text/plain; charset=us-ascii\n\n";
  const std::string line(71, 'x');
  while (message.size() < 60 * kMiB) message += line + "\n";
  return message;
}

std::string base64_text() {
  std::string message = "Subject: b\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n";
  message.reserve(51 * kMiB);
  // "あいう" and a line end, as UTF-8 in base64.
  while (message.size() < 50 * kMiB) message += "44GC44GE44GGCuOBguOBhOOBhgrjgYLjgYTjgYYK44GC44GE44GGCuOBguOBhOOB\n";
  return message;
}

// One message decoded as a receive does (its subject and log text), in a
// process of its own: its peak memory, and that over the budget of three
// times the message plus 32 MiB.
void memory(std::string_view name) {
  const std::string message = name == "nested" ? nested_messages() : base64_text();
  sink(extended_subject(message).size());
  sink(extended_log_text(message).size());
  const double peak = static_cast<double>(peak_memory());
  std::printf("decode_peak_memory_%s: %.1f MiB\n", std::string(name).c_str(), peak / kMiB);
  std::printf("decode_peak_memory_%s_vs_budget: %.2f ratio\n", std::string(name).c_str(),
              peak / static_cast<double>(3 * message.size() + 32 * kMiB));
}

}  // namespace

int main(int argc, char** argv) {
  const bool all = argc < 2;
  if (all || std::strcmp(argv[1], "scaling") == 0) {
    const std::size_t small = argc >= 4 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::size_t big = argc >= 4 ? std::strtoul(argv[3], nullptr, 10) : 16 * 1024;
    scaling(small, big);
  }
  if (!all && std::strcmp(argv[1], "memory") == 0 && argc >= 3) memory(argv[2]);
  return 0;
}
