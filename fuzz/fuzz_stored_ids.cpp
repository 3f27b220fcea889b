// The readers of a list's stored ids file over arbitrary contents: every id
// and key they give is usable, the ids written back read again as they were,
// and rewriting the ids keeps every message key the file held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "job/seen_messages.h"
#include "settings/store.h"
#include "tests/fakes/memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  fakes::memory_files().clear();
  fakes::memory_files().folders = {"LKset", list_folder("L")};
  fakes::memory_files().files[stored_ids_path("L")] =
      std::string(reinterpret_cast<const char*>(data), size);

  const StoredIds ids = read_stored_ids("L");
  for (const auto& [id, message] : ids) {
    if (!usable_message_id(id) || message.size < kUnknownSize) std::abort();
    if (!holds_message(ids, id, message.size)) std::abort();
  }
  const StoredKeys keys = read_stored_keys("L");
  for (const auto& [key, message] : keys) {
    if (!usable_message_id(key)) std::abort();
  }
  if (read_stored_keys("L", false).size() != keys.size()) std::abort();
  const std::unordered_set<std::string> names = read_stored_key_names("L");
  if (names.size() != keys.size()) std::abort();
  for (const auto& [key, message] : keys) {
    if (!names.contains(key)) std::abort();
  }

  if (!write_stored_ids("L", ids)) std::abort();
  const StoredIds again = read_stored_ids("L");
  if (again.size() != ids.size()) std::abort();
  for (const auto& [id, message] : ids) {
    const auto other = again.find(id);
    if (other == again.end() || other->second.size != message.size ||
        other->second.fingerprint != message.fingerprint || other->second.log != message.log) {
      std::abort();
    }
  }
  const StoredKeys keys_after = read_stored_keys("L");
  if (keys_after.size() != keys.size()) std::abort();
  for (const auto& [key, message] : keys) {
    const auto kept = keys_after.find(key);
    if (kept == keys_after.end() || kept->second.log != message.log ||
        kept->second.fingerprint != message.fingerprint) {
      std::abort();
    }
  }
  return 0;
}
