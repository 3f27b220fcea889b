// The listening side of TCP, which the program itself never uses: the
// scripted POP3 server of the tests listens through it in both builds. It is
// kept apart from platform.h, the core's door to the system, and lives in the
// platform layer only because that is the one place that may touch sockets.
#pragma once

#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace larkspur::platform {

// A listening TCP socket.
// accept() waits at most `timeout_ms` for one client; close() stops listening
// (a later accept() returns nullptr). The destructor closes it as well.
class TcpListener {
 public:
  virtual ~TcpListener() = default;
  // The port actually listened on (the one chosen when 0 was asked for).
  virtual int port() const = 0;
  // The next client's connection; nullptr on time-out, error or after close().
  virtual std::unique_ptr<TcpConnection> accept(int timeout_ms) = 0;
  virtual void close() = 0;
};
// Listens on `host` (a numeric address, normally "127.0.0.1") and `port`
// (0 = any free port). nullptr when the socket cannot be bound.
std::unique_ptr<TcpListener> tcp_listen(std::string_view host, int port);

}  // namespace larkspur::platform
