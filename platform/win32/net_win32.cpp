// TCP sockets on Windows (Winsock through ws2_32, asked for version 1.1).
// Sockets stay non-blocking; every wait is a select() in short slices, so a
// time-out, an abort flag or an abort callback is noticed within one slice.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/tcp_listener.h"

namespace larkspur::platform {

namespace {

// The longest single wait; bounds how late an abort is noticed.
constexpr int kSliceMs = 50;
// A send that makes no progress for this long is given up (the peer stopped
// reading); it keeps a stuck server from hanging the caller for ever.
constexpr int kSendStallMs = 60000;

bool set_non_blocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

enum class Wait { kRead, kWrite };

// Waits up to `ms` for `socket`: true when ready (or in error, which the
// following call reports), false on time-out.
bool wait_for(SOCKET socket, Wait what, int ms) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);  // a failed connect is reported here on Windows
  timeval limit{};
  ms = std::max(ms, 0);
  limit.tv_sec = ms / 1000;
  limit.tv_usec = (ms % 1000) * 1000;
  const int result = what == Wait::kRead ? select(0, &ready, nullptr, &failed, &limit)
                                         : select(0, nullptr, &ready, &failed, &limit);
  return result > 0;
}

bool would_block(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

class WinConnection final : public TcpConnection {
 public:
  explicit WinConnection(SOCKET socket) : socket_(socket) {}
  // The socket is closed here only, never in abort(): a thread still inside
  // select() or recv() then never meets a closed or reused handle.
  ~WinConnection() override { closesocket(socket_); }

  bool send_all(std::string_view data) override {
    std::int64_t last_progress = monotonic_ms();
    while (!data.empty()) {
      if (aborted_.load()) return false;
      const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20));
      const int sent = send(socket_, data.data(), chunk, 0);
      if (sent > 0) {
        data.remove_prefix(static_cast<std::size_t>(sent));
        last_progress = monotonic_ms();
        continue;
      }
      if (sent == SOCKET_ERROR && !would_block(WSAGetLastError())) return false;
      if (monotonic_ms() - last_progress > kSendStallMs) return false;
      wait_for(socket_, Wait::kWrite, kSliceMs);
    }
    return !aborted_.load();
  }

  int receive(char* buffer, int capacity, int timeout_ms) override {
    if (capacity <= 0) return -1;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      if (aborted_.load()) return -1;
      const int got = recv(socket_, buffer, capacity, 0);
      // After abort() the shut-down socket may read as closed; that is no
      // orderly close by the peer.
      if (aborted_.load()) return -1;
      if (got >= 0) return got;
      if (!would_block(WSAGetLastError())) return -1;
      const std::int64_t left = deadline - monotonic_ms();
      if (left <= 0) return -1;
      wait_for(socket_, Wait::kRead, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)));
    }
  }

  void abort() override {
    aborted_.store(true);
    shutdown(socket_, SD_BOTH);
  }

 private:
  const SOCKET socket_;
  std::atomic<bool> aborted_{false};
};

class WinListener final : public TcpListener {
 public:
  WinListener(SOCKET socket, int port) : socket_(socket), port_(port) {}
  ~WinListener() override { close(); }

  int port() const override { return port_; }

  std::unique_ptr<TcpConnection> accept(int timeout_ms) override {
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      {
        // Held for one slice at most; close() waits for it.
        std::lock_guard lock(mutex_);
        if (socket_ == INVALID_SOCKET) return nullptr;
        const SOCKET client = ::accept(socket_, nullptr, nullptr);
        if (client != INVALID_SOCKET) {
          if (!set_non_blocking(client)) {
            closesocket(client);
            return nullptr;
          }
          return std::make_unique<WinConnection>(client);
        }
        const int error = WSAGetLastError();
        if (!would_block(error) && error != WSAECONNRESET) return nullptr;
        const std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) return nullptr;
        wait_for(socket_, Wait::kRead, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)));
      }
      if (closing_.load()) return nullptr;
    }
  }

  void close() override {
    closing_.store(true);
    std::lock_guard lock(mutex_);
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  std::mutex mutex_;
  SOCKET socket_;
  const int port_;
  std::atomic<bool> closing_{false};
};

}  // namespace

bool net_startup() {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(1, 1)) {
    WSACleanup();
    return false;
  }
  return true;
}

void net_cleanup() { WSACleanup(); }

std::optional<NetAddress> resolve(std::string_view host, int port) {
  if (host.empty() || host.find('\0') != std::string_view::npos || port < 0 || port > 65535) {
    return std::nullopt;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string host_text(host);
  const std::string port_text = std::to_string(port);
  if (getaddrinfo(host_text.c_str(), port_text.c_str(), &hints, &list) != 0 || !list) {
    return std::nullopt;
  }
  const addrinfo* chosen = list;
  for (const addrinfo* item = list; item; item = item->ai_next) {
    if (item->ai_family == AF_INET) {
      chosen = item;
      break;
    }
  }
  NetAddress address;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(chosen->ai_addr);
  address.bytes.assign(bytes, bytes + chosen->ai_addrlen);
  freeaddrinfo(list);
  return address;
}

std::unique_ptr<TcpConnection> tcp_connect(const NetAddress& address, int timeout_ms,
                                           const std::function<bool()>& aborted) {
  if (aborted && aborted()) return nullptr;
  sockaddr_storage target{};
  if (address.bytes.size() < sizeof(target.ss_family) || address.bytes.size() > sizeof(target)) {
    return nullptr;
  }
  std::memcpy(&target, address.bytes.data(), address.bytes.size());
  const int length = static_cast<int>(address.bytes.size());
  const SOCKET socket = ::socket(target.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return nullptr;
  auto connection = std::make_unique<WinConnection>(socket);  // owns the socket from here
  if (!set_non_blocking(socket)) return nullptr;

  if (connect(socket, reinterpret_cast<const sockaddr*>(&target), length) == 0) return connection;
  if (!would_block(WSAGetLastError())) return nullptr;
  const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
  for (;;) {
    if (aborted && aborted()) return nullptr;
    const std::int64_t left = deadline - monotonic_ms();
    if (left <= 0) return nullptr;
    if (wait_for(socket, Wait::kWrite, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)))) {
      break;
    }
  }
  int error = 0;
  int error_size = sizeof(error);
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &error_size) != 0 ||
      error != 0) {
    return nullptr;
  }
  if (aborted && aborted()) return nullptr;
  return connection;
}

std::unique_ptr<TcpListener> tcp_listen(std::string_view host, int port) {
  const auto address = resolve(host, port);
  if (!address) return nullptr;
  sockaddr_storage local{};
  std::memcpy(&local, address->bytes.data(), std::min(address->bytes.size(), sizeof(local)));
  const SOCKET socket = ::socket(local.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return nullptr;
  int length = static_cast<int>(address->bytes.size());
  if (!set_non_blocking(socket) ||
      bind(socket, reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
      listen(socket, SOMAXCONN) != 0) {
    closesocket(socket);
    return nullptr;
  }
  length = sizeof(local);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    closesocket(socket);
    return nullptr;
  }
  int bound_port = 0;
  if (local.ss_family == AF_INET) {
    bound_port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  } else if (local.ss_family == AF_INET6) {
    bound_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
  }
  return std::make_unique<WinListener>(socket, bound_port);
}

}  // namespace larkspur::platform
