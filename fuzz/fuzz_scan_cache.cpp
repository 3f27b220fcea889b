// The scan cache reader over arbitrary file contents: every id it gives is
// usable and every subject a single line, and what it read, written back and
// read again, is what it read (subjects with their line breaks as blanks, as
// the writer keeps them). The first byte picks the account asked for, so the
// owner line is met both matching and not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "job/seen_messages.h"
#include "tests/fakes/memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  if (size < 1) return 0;
  const std::string_view account = (data[0] & 1) != 0 ? "acct pop.example.jp" : "other";
  fakes::memory_files().clear();
  fakes::memory_files().files[std::string(kScanCacheFile)] =
      std::string(reinterpret_cast<const char*>(data + 1), size - 1);

  const ScanCache cache = read_scan_cache(account);
  if (!cache.found && !cache.messages.empty()) std::abort();
  for (const auto& [id, message] : cache.messages) {
    if (!usable_message_id(id) || message.size < kUnknownSize) std::abort();
    if (message.subject.find('\n') != std::string::npos) std::abort();
  }
  if (!cache.found) return 0;
  if (!write_scan_cache(account, cache)) std::abort();
  const ScanCache again = read_scan_cache(account);
  if (!again.found || again.by_uidl != cache.by_uidl || again.messages.size() != cache.messages.size()) {
    std::abort();
  }
  for (const auto& [id, message] : cache.messages) {
    const auto other = again.messages.find(id);
    if (other == again.messages.end() || other->second.size != message.size) std::abort();
    std::string subject = message.subject;
    for (char& ch : subject) {
      if (ch == '\r') ch = ' ';
    }
    if (other->second.subject != subject) std::abort();
  }
  return 0;
}
