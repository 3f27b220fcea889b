// The server field of an account record (bytes from disk): scheme, host,
// brackets and port, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "retrieval/pop3_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view field(reinterpret_cast<const char*>(data), size);
  if (const auto parsed = larkspur::parse_server_field(field)) {
    if (parsed->host.empty() || parsed->port < 1 || parsed->port > 65535) __builtin_trap();
    if (parsed->host.size() > size) __builtin_trap();
  }
  return 0;
}
