// A whole client session over a fake connection whose server side is the
// fuzz input, delivered in pieces: login, scan, retrieval with deletion,
// quit, then the extended scan's operations (UIDL, LIST, raw TOP and RETR).
// Exercises reply reading, subject extraction, dot-unstuffing, the reply
// bound and the failure paths.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/pop3_client.h"

namespace {

class ScriptedConnection final : public larkspur::platform::TcpConnection {
 public:
  ScriptedConnection(std::string_view& server, unsigned& seed) : server_(server), seed_(seed) {}
  bool send_all(std::string_view) override { return true; }
  int receive(char* buffer, int capacity, int) override {
    if (server_.empty()) return 0;
    seed_ = seed_ * 1103515245u + 12345u;
    const std::size_t piece = std::min<std::size_t>(
        {server_.size(), static_cast<std::size_t>(capacity), 1 + (seed_ >> 16) % 300});
    std::copy_n(server_.data(), piece, buffer);
    server_.remove_prefix(piece);
    return static_cast<int>(piece);
  }
  void abort() override {}

 private:
  std::string_view& server_;
  unsigned& seed_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  unsigned seed = data[0];
  std::string_view server(reinterpret_cast<const char*>(data + 2), size - 2);

  larkspur::Pop3Client client;
  client.max_reply_bytes = 64 + static_cast<std::size_t>(data[1]) * 16;
  client.connector = [&](const larkspur::platform::NetAddress&, int, const std::function<bool()>&) {
    return std::make_unique<ScriptedConnection>(server, seed);
  };
  // Odd seeds speak STLS first (over the stub's pass-through session).
  const char* field = (data[0] & 1) != 0 ? "pop3+starttls://127.0.0.1" : "127.0.0.1";
  if (larkspur::pop3_init(client, field) != 1) return 0;
  if (larkspur::pop3_verify_login(client, "user", "password") == 1) {
    if (larkspur::pop3_open(client) == 1) {
      for (int i = 0; i < 200 && larkspur::pop3_next_message(client) == 1; ++i) {
        (void)larkspur::pop3_current_subject(client);
      }
      larkspur::pop3_close(client);
    }
    if (larkspur::pop3_open(client) == 1) {
      std::string text;
      larkspur::pop3_retrieve(client, 1, text, 0, 1);
      larkspur::pop3_retrieve(client, 2, text, 1, 0);
      larkspur::pop3_delete(client, 3);
      larkspur::pop3_close(client);
    }
    // The extended scan's operations: UIDL listing, LIST numbers, raw TOP
    // and raw RETR.
    if (larkspur::pop3_open(client) == 1) {
      std::vector<larkspur::Pop3UniqueId> ids;
      std::vector<int> numbers;
      std::string raw;
      larkspur::pop3_unique_ids(client, ids);
      larkspur::pop3_message_numbers(client, numbers);
      larkspur::pop3_header_block(client, 1, raw);
      larkspur::pop3_retrieve_raw(client, 1, raw);
      larkspur::pop3_close(client);
    }
  }
  larkspur::pop3_shutdown(client);
  return 0;
}
