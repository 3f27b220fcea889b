// The few socket functions the POP3 client calls, stubbed: the fuzz targets
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

}  // namespace larkspur::platform
