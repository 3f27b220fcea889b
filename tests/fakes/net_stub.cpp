// The few socket and TLS functions the POP3 client calls, stubbed: the fuzz targets
// inject their own connection, so no real socket is ever made and the
// targets do not depend on the platform layer's build.
#include "platform/platform.h"

namespace larkspur::platform {

bool net_startup() { return true; }
void net_cleanup() {}
std::optional<NetAddress> resolve(std::string_view host, int) {
  if (host.empty()) return std::nullopt;
  return NetAddress{};
}
std::unique_ptr<TcpConnection> tcp_connect(const NetAddress&, int, const std::function<bool()>&) {
  return nullptr;
}

// A "TLS" session that passes the bytes through unchanged and whose handshake
// always succeeds, so the client's dialogue after STLS is fuzzed as well.
namespace {
class PassThrough final : public TlsConnection {
 public:
  explicit PassThrough(std::shared_ptr<TcpConnection> transport) : transport_(std::move(transport)) {}
  TlsError handshake(int) override { return TlsError::kNone; }
  bool send_all(std::string_view data) override { return transport_->send_all(data); }
  int receive(char* buffer, int capacity, int timeout_ms) override {
    return transport_->receive(buffer, capacity, timeout_ms);
  }
  void abort() override { transport_->abort(); }

 private:
  std::shared_ptr<TcpConnection> transport_;
};
}  // namespace

std::unique_ptr<TlsConnection> tls_client(std::shared_ptr<TcpConnection> transport,
                                          std::string_view) {
  return std::make_unique<PassThrough>(std::move(transport));
}

}  // namespace larkspur::platform
