// Loopback sockets: listener, connect, send and receive, time-outs, and an
// abort from another thread that must unblock a waiting receive at once.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/tcp_listener.h"

namespace larkspur::platform {
namespace {

constexpr int kGenerousMs = 5000;  // only reached when something is broken

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net_startup());
    listener_ = tcp_listen("127.0.0.1", 0);
    ASSERT_NE(listener_, nullptr);
    ASSERT_GT(listener_->port(), 0);
  }
  void TearDown() override {
    listener_.reset();
    net_cleanup();
  }

  // A connected pair: the client side and the server side.
  void connect_pair() {
    const auto address = resolve("127.0.0.1", listener_->port());
    ASSERT_TRUE(address.has_value());
    client_ = tcp_connect(*address, kGenerousMs);
    ASSERT_NE(client_, nullptr);
    server_ = listener_->accept(kGenerousMs);
    ASSERT_NE(server_, nullptr);
  }

  // Reads exactly `size` bytes, or what came before an end or an error.
  static std::string receive_exactly(TcpConnection& connection, std::size_t size) {
    std::string got;
    char buffer[64];
    while (got.size() < size) {
      const int n = connection.receive(buffer, sizeof buffer, kGenerousMs);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  std::unique_ptr<TcpListener> listener_;
  std::unique_ptr<TcpConnection> client_;
  std::unique_ptr<TcpConnection> server_;
};

TEST_F(Loopback, CarriesBytesBothWaysAndReportsPeerClose) {
  connect_pair();
  const std::string messages[] = {"USER name\r\n", std::string(300000, 'm'),
                                  std::string("\0\xFF\r\n.\r\n", 7)};
  // Each direction sends from a thread of its own while the other side reads:
  // a large message need not fit into the socket buffers.
  auto pass = [](TcpConnection& from, TcpConnection& to, const std::string& message) {
    std::atomic<bool> sent{false};
    std::thread sender([&] { sent = from.send_all(message); });
    const std::string got = receive_exactly(to, message.size());
    sender.join();
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(got.size(), message.size());
    EXPECT_TRUE(got == message);
  };
  for (const std::string& message : messages) {
    pass(*client_, *server_, message);
    pass(*server_, *client_, message);
  }
  server_.reset();
  char buffer[16];
  EXPECT_EQ(client_->receive(buffer, sizeof buffer, kGenerousMs), 0);
}

TEST_F(Loopback, ReceiveTimesOut) {
  connect_pair();
  char buffer[16];
  const std::int64_t start = monotonic_ms();
  EXPECT_EQ(client_->receive(buffer, sizeof buffer, 150), -1);
  const std::int64_t waited = monotonic_ms() - start;
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, 2000);
  // The connection still works after a time-out.
  ASSERT_TRUE(server_->send_all("+OK\r\n"));
  EXPECT_EQ(receive_exactly(*client_, 5), "+OK\r\n");
}

TEST_F(Loopback, AbortFromAnotherThreadUnblocksReceive) {
  connect_pair();
  std::atomic<int> result{1};
  std::atomic<std::int64_t> returned_at{0};
  std::promise<void> receiving;
  std::thread reader([&] {
    char buffer[16];
    receiving.set_value();
    result = client_->receive(buffer, sizeof buffer, 30000);
    returned_at = monotonic_ms();
  });
  // Aborts once the reader is about to receive: whether its receive is then
  // already waiting or only starting, it must return -1 at once.
  receiving.get_future().wait();
  const std::int64_t aborted_at = monotonic_ms();
  client_->abort();
  reader.join();
  EXPECT_EQ(result.load(), -1);
  EXPECT_LT(returned_at.load() - aborted_at, 1000);
  // Everything after an abort fails at once.
  char buffer[16];
  EXPECT_EQ(client_->receive(buffer, sizeof buffer, kGenerousMs), -1);
  EXPECT_FALSE(client_->send_all("QUIT\r\n"));
}

TEST_F(Loopback, ConnectFailsWhenNobodyListensOrWhenAborted) {
  const auto address = resolve("127.0.0.1", listener_->port());
  ASSERT_TRUE(address.has_value());
  listener_->close();
  EXPECT_EQ(listener_->accept(10), nullptr);
  const std::int64_t start = monotonic_ms();
  EXPECT_EQ(tcp_connect(*address, kGenerousMs), nullptr);
  EXPECT_EQ(tcp_connect(*address, kGenerousMs, [] { return true; }), nullptr);
  EXPECT_LT(monotonic_ms() - start, 3000);
  EXPECT_EQ(tcp_connect(NetAddress{}, kGenerousMs), nullptr);
}

TEST_F(Loopback, AcceptTimesOutAndCloseUnblocksIt) {
  const std::int64_t start = monotonic_ms();
  EXPECT_EQ(listener_->accept(100), nullptr);
  EXPECT_GE(monotonic_ms() - start, 80);

  std::atomic<bool> returned{false};
  std::promise<void> accepting;
  std::thread acceptor([&] {
    accepting.set_value();
    EXPECT_EQ(listener_->accept(30000), nullptr);
    returned = true;
  });
  // Closes once the acceptor is about to wait (either way it must return).
  accepting.get_future().wait();
  const std::int64_t closed_at = monotonic_ms();
  listener_->close();
  acceptor.join();
  EXPECT_TRUE(returned.load());
  EXPECT_LT(monotonic_ms() - closed_at, 1000);
}

TEST(Resolve, PrefersIpv4AndRejectsNonsense) {
  ASSERT_TRUE(net_startup());
  const auto local = resolve("localhost", 110);
  ASSERT_TRUE(local.has_value());
  ASSERT_GE(local->bytes.size(), 4u);
  // sockaddr_in starts with the family (AF_INET = 2 on both systems, stored
  // little-endian) and the port in network order.
  EXPECT_EQ(local->bytes[0] | (local->bytes[1] << 8), 2);
  EXPECT_EQ((local->bytes[2] << 8) | local->bytes[3], 110);
  const auto literal6 = resolve("::1", 995);
  EXPECT_TRUE(literal6.has_value());
  EXPECT_FALSE(resolve("", 110).has_value());
  EXPECT_FALSE(resolve("127.0.0.1", 70000).has_value());
  EXPECT_FALSE(resolve(std::string_view("127.0.0.1\0x", 11), 110).has_value());
  net_cleanup();
}

}  // namespace
}  // namespace larkspur::platform
