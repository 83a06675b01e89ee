#include "support/SocketIo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using platform::UniqueFd;
using testing_support::LogText;
using testing_support::TempDir;
using testing_support::UdpCollector;

// A connected TCP pair over loopback: {client, accepted}.
std::pair<UniqueFd, UniqueFd> TcpPair(int sendBuffer = 0) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.Get(), 1) != 0 ||
      ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (sendBuffer > 0) {
    ::setsockopt(client.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  }
  if (::connect(client.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("cannot connect on loopback");
  }
  UniqueFd accepted(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!accepted) throw std::runtime_error("cannot accept on loopback");
  return {std::move(client), std::move(accepted)};
}

// Resets the connection: the peer sees RST instead of an orderly close.
void Abort(UniqueFd& socket) {
  const linger hard{1, 0};
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  socket.Reset();
}

bool WaitReadable(int socket) {
  pollfd p{socket, POLLIN, 0};
  return ::poll(&p, 1, 2000) == 1;
}

constexpr char kNotSockLine[] = "An error occurred. A cause is WSAENOTSOCK.";

// Every test logs to a collector of its own, through a syslog.ini in a fresh directory.
class SocketIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    collector_ = UdpCollector::OnFreeAddress();
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
    CloseSyslog();
    previousThreshold_ = SetLogThreshold(7);
  }
  void TearDown() override {
    CloseSyslog();
    SetLogThreshold(previousThreshold_);
  }

  // The one datagram the failure must have produced: its text, after checking it came at
  // priority 3 of the default facility (user, 8) and nothing else followed.
  std::string OnlyLogLine() {
    const std::optional<std::string> datagram = collector_->Next();
    if (!datagram) return "<nothing logged>";
    EXPECT_EQ(datagram->rfind("<11>", 0), 0u) << *datagram;
    EXPECT_TRUE(collector_->Drain().empty());
    return LogText(*datagram, "");
  }
  void ExpectNothingLogged() { EXPECT_TRUE(collector_->Drain().empty()); }

  TempDir dir_;
  std::unique_ptr<UdpCollector> collector_;
  int previousThreshold_ = 7;
};

TEST_F(SocketIoTest, SendToANonSocketFailsWithNotSock) {
  UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(devNull);
  EXPECT_EQ(SocketSendAll(devNull.Get(), "abc", 3), -1);
  EXPECT_EQ(OnlyLogLine(), kNotSockLine);

  // A length of 0 still makes its one send, which fails the same way.
  EXPECT_EQ(SocketSendAll(devNull.Get(), "", 0), -1);
  EXPECT_EQ(OnlyLogLine(), kNotSockLine);

  int pipeEnds[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
  UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
  EXPECT_EQ(SocketSendAll(writeEnd.Get(), "abc", 3), -1);
  EXPECT_EQ(OnlyLogLine(), kNotSockLine);
  char byte;
  EXPECT_EQ(SocketRecv(readEnd.Get(), &byte, 1), -1);
  EXPECT_EQ(OnlyLogLine(), kNotSockLine);
}

TEST_F(SocketIoTest, ZeroLengthSendOnASocketReturnsZero) {
  auto [client, server] = TcpPair();
  EXPECT_EQ(SocketSendAll(client.Get(), "", 0), 0);
  uint32_t waiting = 99;
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 0u);
  ExpectNothingLogged();
}

// A small send buffer on a non-blocking socket and a slow reader: the kernel takes the data
// a piece at a time and refuses the rest with would-block, which must be retried until all
// of it has gone.
TEST_F(SocketIoTest, PartialSendsStillSendEverything) {
  auto [client, server] = TcpPair(4096);
  ASSERT_EQ(::fcntl(client.Get(), F_SETFL, ::fcntl(client.Get(), F_GETFL) | O_NONBLOCK), 0);

  constexpr std::size_t kSize = 4 * 1024 * 1024;
  std::vector<char> payload(kSize);
  std::mt19937 random(12345);
  for (char& c : payload) c = static_cast<char>(random());
  int sendBuffer = 0;
  socklen_t optionLength = sizeof sendBuffer;
  ASSERT_EQ(::getsockopt(client.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, &optionLength), 0);
  ASSERT_LT(static_cast<std::size_t>(sendBuffer) * 8, kSize);

  std::vector<char> received;
  received.reserve(kSize);
  std::thread reader([&received, fd = server.Get()] {
    std::vector<char> chunk(16384);
    int reads = 0;
    while (received.size() < kSize) {
      const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
      if (n <= 0) break;
      received.insert(received.end(), chunk.data(), chunk.data() + n);
      if (++reads % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const int sent = SocketSendAll(client.Get(), payload.data(), static_cast<int>(kSize));
  ::shutdown(client.Get(), SHUT_WR);  // a short send must not leave the reader waiting
  reader.join();

  EXPECT_EQ(sent, static_cast<int>(kSize));
  ASSERT_EQ(received.size(), kSize);
  EXPECT_TRUE(received == payload);
  ExpectNothingLogged();
}

TEST_F(SocketIoTest, ReceiveGivesBytesThenZeroAfterPeerCloses) {
  auto [client, server] = TcpPair();
  ASSERT_EQ(SocketSendAll(client.Get(), "hello", 5), 5);
  client.Reset();
  ASSERT_TRUE(WaitReadable(server.Get()));

  char buffer[16];
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 0);
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 0);
  ExpectNothingLogged();
}

// After a reset the socket fails both ways. The sends must not raise SIGPIPE (which would
// end this test binary) and each failure is one line naming the error.
TEST_F(SocketIoTest, ResetConnectionFailsWithItsName) {
  auto [client, server] = TcpPair();
  Abort(client);
  ASSERT_TRUE(WaitReadable(server.Get()));

  char buffer[16];
  EXPECT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), -1);
  EXPECT_EQ(OnlyLogLine(), "An error occurred. A cause is WSAECONNRESET.");

  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(SocketSendAll(server.Get(), "late", 4), -1);
    const std::string line = OnlyLogLine();
    EXPECT_TRUE(line == "An error occurred. A cause is WSAECONNRESET." ||
                line == "An error occurred. A cause is WSAESHUTDOWN.")
        << line;
  }
}

TEST_F(SocketIoTest, BytesAvailableCountsWaitingBytes) {
  auto [client, server] = TcpPair();
  uint32_t waiting = 99;
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 0u);

  const std::string data(1234, 'x');
  ASSERT_EQ(SocketSendAll(client.Get(), data.data(), static_cast<int>(data.size())), 1234);
  ASSERT_TRUE(WaitReadable(server.Get()));
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 1234u);

  char buffer[1000];
  ASSERT_EQ(SocketRecv(server.Get(), buffer, sizeof buffer), 1000);
  EXPECT_EQ(SocketBytesAvailable(server.Get(), &waiting), 0);
  EXPECT_EQ(waiting, 234u);
  ExpectNothingLogged();
}

TEST_F(SocketIoTest, BytesAvailableOnABadHandleFails) {
  uint32_t waiting = 77;
  EXPECT_EQ(SocketBytesAvailable(-1, &waiting), -1);
  EXPECT_EQ(waiting, 77u);
  EXPECT_EQ(OnlyLogLine(), "An error occurred. A cause is WSAEBADF.");
}

}  // namespace
