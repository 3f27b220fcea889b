// TCP sockets on Linux. Sockets stay non-blocking; every wait is a poll() in
// short slices, so a time-out, an abort flag or an abort callback is noticed
// within one slice even if a wake-up were missed.
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/tcp_listener.h"

namespace larkspur::platform {

namespace {

// The longest single wait; bounds how late an abort callback is noticed.
constexpr int kSliceMs = 50;
// A send that makes no progress for this long is given up (the peer stopped
// reading); it keeps a stuck server from hanging the caller for ever.
constexpr int kSendStallMs = 60000;

// Waits up to `ms` for `events` on `fd`: true when ready (or in error, which
// the following call reports), false on time-out.
bool wait_for(int fd, short events, int ms) {
  pollfd item{fd, events, 0};
  const int result = ::poll(&item, 1, std::max(ms, 0));
  return result > 0;
}

class PosixConnection final : public TcpConnection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}
  // The socket is closed here only, never in abort(): a thread still inside
  // poll() or recv() then never meets a closed or reused descriptor.
  ~PosixConnection() override { ::close(fd_); }

  bool send_all(std::string_view data) override {
    std::int64_t last_progress = monotonic_ms();
    while (!data.empty()) {
      if (aborted_.load()) return false;
      const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent > 0) {
        data.remove_prefix(static_cast<std::size_t>(sent));
        last_progress = monotonic_ms();
        continue;
      }
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      if (monotonic_ms() - last_progress > kSendStallMs) return false;
      wait_for(fd_, POLLOUT, kSliceMs);
    }
    return !aborted_.load();
  }

  int receive(char* buffer, int capacity, int timeout_ms) override {
    if (capacity <= 0) return -1;
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      if (aborted_.load()) return -1;
      const ssize_t got = ::recv(fd_, buffer, static_cast<std::size_t>(capacity), 0);
      // After abort() the shut-down socket reads as closed; that is no
      // orderly close by the peer.
      if (aborted_.load()) return -1;
      if (got >= 0) return static_cast<int>(got);
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      const std::int64_t left = deadline - monotonic_ms();
      if (left <= 0) return -1;
      wait_for(fd_, POLLIN, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)));
    }
  }

  void abort() override {
    aborted_.store(true);
    // Wakes a poll() or recv() blocked in the other thread at once.
    ::shutdown(fd_, SHUT_RDWR);
  }

 private:
  const int fd_;
  std::atomic<bool> aborted_{false};
};

class PosixListener final : public TcpListener {
 public:
  PosixListener(int fd, int port) : fd_(fd), port_(port) {}
  ~PosixListener() override { close(); }

  int port() const override { return port_; }

  std::unique_ptr<TcpConnection> accept(int timeout_ms) override {
    const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
    for (;;) {
      {
        // Held for one slice at most; close() waits for it.
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return nullptr;
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client >= 0) return std::make_unique<PosixConnection>(client);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
            errno != ECONNABORTED) {
          return nullptr;
        }
        const std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) return nullptr;
        wait_for(fd_, POLLIN, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)));
      }
      if (closing_.load()) return nullptr;
    }
  }

  void close() override {
    closing_.store(true);
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  std::mutex mutex_;
  int fd_;
  const int port_;
  std::atomic<bool> closing_{false};
};

}  // namespace

bool net_startup() { return true; }
void net_cleanup() {}

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
  if (::getaddrinfo(host_text.c_str(), port_text.c_str(), &hints, &list) != 0 || !list) {
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
  ::freeaddrinfo(list);
  return address;
}

std::unique_ptr<TcpConnection> tcp_connect(const NetAddress& address, int timeout_ms,
                                           const std::function<bool()>& aborted) {
  if (aborted && aborted()) return nullptr;
  sockaddr_storage target{};
  if (address.bytes.size() < sizeof(sa_family_t) || address.bytes.size() > sizeof(target)) {
    return nullptr;
  }
  std::memcpy(&target, address.bytes.data(), address.bytes.size());
  const auto length = static_cast<socklen_t>(address.bytes.size());
  const int fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto connection = std::make_unique<PosixConnection>(fd);  // owns fd from here

  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), length) == 0) return connection;
  if (errno != EINPROGRESS && errno != EINTR) return nullptr;
  const std::int64_t deadline = monotonic_ms() + std::max(timeout_ms, 0);
  for (;;) {
    if (aborted && aborted()) return nullptr;
    const std::int64_t left = deadline - monotonic_ms();
    if (left <= 0) return nullptr;
    if (wait_for(fd, POLLOUT, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)))) break;
  }
  int error = 0;
  socklen_t error_size = sizeof(error);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &error_size) != 0 || error != 0) {
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
  const int fd = ::socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  socklen_t length = static_cast<socklen_t>(address->bytes.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    ::close(fd);
    return nullptr;
  }
  length = sizeof(local);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ::close(fd);
    return nullptr;
  }
  int bound_port = 0;
  if (local.ss_family == AF_INET) {
    bound_port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  } else if (local.ss_family == AF_INET6) {
    bound_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
  }
  return std::make_unique<PosixListener>(fd, bound_port);
}

}  // namespace larkspur::platform
