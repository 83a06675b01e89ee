#include "support/SocketIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/TcpListener.h"
#include "platform/UniqueFd.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using platform::UniqueSocket;

// A connected TCP pair over loopback: {client, accepted}.
std::pair<UniqueSocket, UniqueSocket> TcpPair(int sendBuffer = 0) {
  const UniqueSocket listener = platform::ListenTcp({.address = INADDR_LOOPBACK});
  UniqueSocket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in addr{AF_INET, htons(platform::LocalPort(listener.Get())), {htonl(INADDR_LOOPBACK)}, {}};
  if (sendBuffer > 0) ::setsockopt(client.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  if (!listener || ::connect(client.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("no loopback connection");
  }
  return {std::move(client), UniqueSocket(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC))};
}

bool WaitReadable(int socket) {
  pollfd p{socket, POLLIN, 0};
  return ::poll(&p, 1, 2000) == 1;
}

class SocketIoTest : public ::testing::Test {
 protected:
  void SetUp() override { collector_->TakeTheLog("debug"); }
  void TearDown() override { CloseSyslog(); }

  // The one line a failure logs, checked to come at priority 3 of the user facility.
  std::string OnlyLogLine() {
    const auto datagram = collector_->Next();
    if (!datagram) return "<nothing logged>";
    EXPECT_EQ(datagram->rfind("<11>", 0), 0u) << *datagram;
    EXPECT_TRUE(collector_->Drain().empty());
    return testing_support::LogText(*datagram, "");
  }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
};

TEST_F(SocketIoTest, SendToANonSocketFailsWithNotSock) {
  platform::UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  EXPECT_EQ(SocketSendAll(devNull.Get(), "abc", 3), -1);
  EXPECT_EQ(OnlyLogLine(), "An error occurred. A cause is WSAENOTSOCK.");
}

// A small send buffer on a non-blocking socket and a slow reader: would-block must be
// retried until everything has gone.
TEST_F(SocketIoTest, PartialSendsStillSendEverything) {
  auto [client, server] = TcpPair(4096);
  ASSERT_EQ(::fcntl(client.Get(), F_SETFL, ::fcntl(client.Get(), F_GETFL) | O_NONBLOCK), 0);
  std::vector<char> payload(4 << 20);
  std::mt19937 random(12345);
  for (char& c : payload) c = static_cast<char>(random());

  std::vector<char> received;
  std::thread reader([&received, fd = server.Get()] {
    char chunk[16384];
    for (int reads = 1;; ++reads) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      received.insert(received.end(), chunk, chunk + n);
      if (reads % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const int sent = SocketSendAll(client.Get(), payload.data(), static_cast<int>(payload.size()));
  ::shutdown(client.Get(), SHUT_WR);
  reader.join();
  EXPECT_EQ(sent, static_cast<int>(payload.size()));
  EXPECT_TRUE(received == payload) << received.size() << " bytes arrived";
  EXPECT_TRUE(collector_->Drain().empty());
}

TEST_F(SocketIoTest, ReceiveAndBytesAvailableUntilThePeerCloses) {
  auto [client, server] = TcpPair();
  uint32_t waiting = 99;
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 0u);
  const std::string data(1234, 'x');
  ASSERT_EQ(SocketSendAll(client.Get(), data.data(), 1234), 1234);
  client.Reset();
  ASSERT_TRUE(WaitReadable(server.Get()));
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 1234u);

  char buffer[1000];
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 1000);
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 234u);
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 234);
  EXPECT_EQ(std::string(buffer, 234), std::string(234, 'x'));
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 0);
  EXPECT_TRUE(collector_->Drain().empty());

  EXPECT_EQ(SocketBytesAvailable(-1, &waiting), -1);
  EXPECT_EQ(OnlyLogLine(), "An error occurred. A cause is WSAEBADF.");
}

}  // namespace
