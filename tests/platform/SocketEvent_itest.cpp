#include "platform/SocketEvent.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/SocketError.h"
#include "platform/WaitSet.h"

namespace {

using platform::FD_ACCEPT;
using platform::FD_CLOSE;
using platform::FD_CONNECT;
using platform::FD_READ;
using platform::FD_WRITE;
using platform::kWaitTimeout;
using platform::NetworkEvents;
using platform::SocketEvent;
using platform::WaitForOne;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Waits that should end do so within this; waits that should not are cut much shorter.
constexpr uint32_t kLongWait = 3000;
constexpr uint32_t kQuietWait = 200;

// A socket closed through CloseSocket, as selected sockets must be.
class Sock {
 public:
  explicit Sock(int fd = -1) : fd_(fd) {}
  Sock(Sock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Sock& operator=(Sock&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Sock() {
    if (fd_ >= 0) platform::CloseSocket(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

uint16_t PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

Sock Listener() {
  Sock s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in addr = Loopback(0);
  if (bind(s.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(s.get(), SOMAXCONN) != 0) {
    ADD_FAILURE() << "listener: " << errno;
  }
  return s;
}

// A blocking client connected to the port (the listener's backlog completes it).
Sock Client(uint16_t port, int rcvbuf = 0) {
  Sock s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (rcvbuf > 0) setsockopt(s.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  const sockaddr_in addr = Loopback(port);
  if (connect(s.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ADD_FAILURE() << "connect: " << errno;
  }
  return s;
}

struct Pair {
  Sock server;  // the accepted end, which the tests select
  Sock client;
};

Pair Connected(int clientRcvbuf = 0) {
  Sock listener = Listener();
  Pair pair;
  pair.client = Client(PortOf(listener.get()), clientRcvbuf);
  pair.server = Sock(platform::SockAccept(listener.get(), nullptr, nullptr));
  if (pair.server.get() < 0) ADD_FAILURE() << "accept: " << errno;
  return pair;
}

// The events of the next wakeup, or nullopt when none came in time.
std::optional<NetworkEvents> Next(SocketEvent& event, uint32_t timeoutMs = kLongWait) {
  const int rc = WaitForOne(event, timeoutMs);
  if (rc != 0) {
    if (rc != kWaitTimeout) ADD_FAILURE() << "wait failed: " << errno;
    return std::nullopt;
  }
  return event.Enumerate();
}

void SendAll(int fd, const std::string& bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

TEST(SocketEventTest, AcceptIsRecordedOnceUntilAnAcceptIsMade) {
  Sock listener = Listener();
  SocketEvent event;
  ASSERT_TRUE(event.Select(listener.get(), FD_ACCEPT | FD_CLOSE));
  EXPECT_NE(fcntl(listener.get(), F_GETFL) & O_NONBLOCK, 0) << "selecting makes it non-blocking";
  EXPECT_FALSE(Next(event, kQuietWait)) << "nobody connects yet";

  const uint16_t port = PortOf(listener.get());
  Sock first = Client(port);
  Sock second = Client(port);
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_ACCEPT);
  EXPECT_EQ(got->errorCodes[platform::FD_ACCEPT_BIT], 0);
  EXPECT_FALSE(Next(event, kQuietWait)) << "two connections wait, but nothing was accepted";

  Sock accepted(platform::SockAccept(listener.get(), nullptr, nullptr));
  ASSERT_GE(accepted.get(), 0);
  EXPECT_NE(fcntl(accepted.get(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(accepted.get(), F_GETFD) & FD_CLOEXEC, 0);
  got = Next(event);
  ASSERT_TRUE(got) << "the second connection still waits";
  EXPECT_EQ(got->events, FD_ACCEPT);

  Sock accepted2(platform::SockAccept(listener.get(), nullptr, nullptr));
  ASSERT_GE(accepted2.get(), 0);
  EXPECT_FALSE(Next(event, kQuietWait)) << "no connection waits any more";
  EXPECT_LT(platform::SockAccept(listener.get(), nullptr, nullptr), 0);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_FALSE(Next(event, kQuietWait));

  // Unselected, the listener hands out blocking sockets again.
  ASSERT_TRUE(event.Select(listener.get(), 0));
  ASSERT_EQ(fcntl(listener.get(), F_SETFL, fcntl(listener.get(), F_GETFL) & ~O_NONBLOCK), 0);
  Sock third = Client(port);
  Sock accepted3(platform::SockAccept(listener.get(), nullptr, nullptr));
  ASSERT_GE(accepted3.get(), 0);
  EXPECT_EQ(fcntl(accepted3.get(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(accepted3.get(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(SocketEventTest, ReadIsRecordedAgainOnlyAfterAReceive) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));
  EXPECT_FALSE(Next(event, kQuietWait)) << "nothing was sent";

  SendAll(pair.client.get(), "abc");
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_READ);
  EXPECT_EQ(got->errorCodes[platform::FD_READ_BIT], 0);
  EXPECT_FALSE(Next(event, kQuietWait)) << "bytes wait, but no receive was made";
  EXPECT_EQ(event.Enumerate().events, 0);

  char byte = 0;
  ASSERT_EQ(platform::SockRecv(pair.server.get(), &byte, 1, 0), 1);
  EXPECT_EQ(byte, 'a');
  got = Next(event);
  ASSERT_TRUE(got) << "two bytes still wait";
  EXPECT_EQ(got->events, FD_READ);

  char rest[8] = {};
  ASSERT_EQ(platform::SockRecv(pair.server.get(), rest, sizeof rest, 0), 2);
  EXPECT_EQ(std::string(rest, 2), "bc");
  EXPECT_FALSE(Next(event, kQuietWait)) << "everything was read";

  SendAll(pair.client.get(), "d");
  got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_READ);
}

TEST(SocketEventTest, GracefulCloseComesAfterTheLastByteAndOnce) {
  Pair pair = Connected();
  SendAll(pair.client.get(), "xy");
  pair.client = Sock();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));

  char byte = 0;
  for (const char expected : {'x', 'y'}) {
    std::optional<NetworkEvents> got = Next(event);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->events, FD_READ) << "bytes come before the close";
    ASSERT_EQ(platform::SockRecv(pair.server.get(), &byte, 1, 0), 1);
    EXPECT_EQ(byte, expected);
  }
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CLOSE);
  EXPECT_EQ(got->errorCodes[platform::FD_CLOSE_BIT], 0);

  EXPECT_EQ(platform::SockRecv(pair.server.get(), &byte, 1, 0), 0);
  EXPECT_FALSE(Next(event, kQuietWait)) << "the close is reported once";
}

TEST(SocketEventTest, CloseWithoutReadSelectedIgnoresUnreadBytes) {
  Pair pair = Connected();
  SendAll(pair.client.get(), "unread");
  pair.client = Sock();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_CLOSE));
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CLOSE);
  EXPECT_FALSE(Next(event, kQuietWait));
}

TEST(SocketEventTest, ResetByThePeerIsACloseWithConnReset) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_WRITE | FD_CLOSE));
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_WRITE);

  const linger abort{1, 0};
  ASSERT_EQ(setsockopt(pair.client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
  pair.client = Sock();
  got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CLOSE);
  EXPECT_EQ(got->errorCodes[platform::FD_CLOSE_BIT], platform::kWsaEConnReset);
  EXPECT_FALSE(Next(event, kQuietWait));
}

TEST(SocketEventTest, ResetSeenByAReceiveStillGivesConnReset) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));
  const linger abort{1, 0};
  ASSERT_EQ(setsockopt(pair.client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
  pair.client = Sock();
  std::this_thread::sleep_for(Ms(50));
  // The receive takes the socket's pending error before the event looks at it.
  char byte = 0;
  EXPECT_LT(platform::SockRecv(pair.server.get(), &byte, 1, 0), 0);
  EXPECT_EQ(errno, ECONNRESET);
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CLOSE);
  EXPECT_EQ(got->errorCodes[platform::FD_CLOSE_BIT], platform::kWsaEConnReset);
}

TEST(SocketEventTest, WriteComesOnceAndAgainOnlyAfterASendWouldBlock) {
  Pair pair = Connected(4096);
  const int sndbuf = 4096;
  ASSERT_EQ(setsockopt(pair.server.get(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf), 0);
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_WRITE | FD_CLOSE));
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_WRITE);
  EXPECT_EQ(got->errorCodes[platform::FD_WRITE_BIT], 0);
  EXPECT_FALSE(Next(event, kQuietWait)) << "writable, but no send would block";

  const std::vector<char> chunk(1024, 'z');
  std::size_t sent = 0;
  for (int i = 0; i < 100000; ++i) {
    const ssize_t n = platform::SockSend(pair.server.get(), chunk.data(), chunk.size(), 0);
    if (n < 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(errno, EAGAIN) << "the buffers never filled";

  std::vector<char> sink(sent);
  std::size_t drained = 0;
  while (drained < sent) {
    const ssize_t n = recv(pair.client.get(), sink.data(), sent - drained, 0);
    ASSERT_GT(n, 0);
    drained += static_cast<std::size_t>(n);
  }
  got = Next(event);
  ASSERT_TRUE(got) << "space became free after a send that would block";
  EXPECT_EQ(got->events, FD_WRITE);
  EXPECT_FALSE(Next(event, kQuietWait));

  // A send that goes through re-arms nothing.
  ASSERT_EQ(platform::SockSend(pair.server.get(), chunk.data(), 16, 0), 16);
  EXPECT_FALSE(Next(event, kQuietWait));
}

TEST(SocketEventTest, IdleWritableSocketDoesNotSpin) {
  Pair pair = Connected();
  SocketEvent event;
  std::optional<platform::Event> end =
      platform::Event::Create(platform::EventReset::kManual, false);
  ASSERT_TRUE(end);
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_WRITE | FD_CLOSE));
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->events, FD_WRITE);

  const double cpuBefore = ThreadCpuMs();
  const auto start = SteadyClock::now();
  EXPECT_EQ(platform::WaitForAny({&event, &*end}, kQuietWait), kWaitTimeout);
  const auto took = SteadyClock::now() - start;
  const double cpu = ThreadCpuMs() - cpuBefore;
  EXPECT_GE(took, Ms(kQuietWait - 5));
  EXPECT_LT(cpu, 50.0) << "the wait burnt the processor instead of sleeping";
}

TEST(SocketEventTest, SocketClosedBehindItsBackDoesNotSpin) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));
  // Closed without CloseSocket: poll reports the descriptor as invalid on every call.
  ASSERT_EQ(close(pair.server.release()), 0);

  const double cpuBefore = ThreadCpuMs();
  EXPECT_EQ(WaitForOne(event, kQuietWait), kWaitTimeout);
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 50.0);
}

TEST(SocketEventTest, ConnectReportsSuccessAndWrite) {
  Sock listener = Listener();
  Sock client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  SocketEvent event;
  ASSERT_TRUE(event.Select(client.get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE));
  EXPECT_FALSE(Next(event, kQuietWait)) << "an unconnected socket has nothing to report";

  const sockaddr_in addr = Loopback(PortOf(listener.get()));
  const int rc =
      platform::SockConnect(client.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (rc != 0) {
    ASSERT_EQ(errno, EINPROGRESS);
  }
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CONNECT | FD_WRITE);
  EXPECT_EQ(got->errorCodes[platform::FD_CONNECT_BIT], 0);
  EXPECT_FALSE(Next(event, kQuietWait));
}

TEST(SocketEventTest, ConnectToAClosedPortReportsConnRefused) {
  uint16_t port = 0;
  {
    Sock probe = Listener();
    port = PortOf(probe.get());
  }
  Sock client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  SocketEvent event;
  ASSERT_TRUE(event.Select(client.get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE));
  const sockaddr_in addr = Loopback(port);
  ASSERT_LT(
      platform::SockConnect(client.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr),
      0);
  ASSERT_EQ(errno, EINPROGRESS);
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_CONNECT);
  EXPECT_EQ(got->errorCodes[platform::FD_CONNECT_BIT], platform::kWsaEConnRefused);
  EXPECT_FALSE(Next(event, kQuietWait)) << "a failed connect is no close, and reported once";
}

TEST(SocketEventTest, ReceiveOnAnotherThreadWakesTheWaiter) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));
  SendAll(pair.client.get(), "abcd");
  std::optional<NetworkEvents> got = Next(event);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->events, FD_READ);

  std::thread reader([&] {
    std::this_thread::sleep_for(Ms(100));
    char byte = 0;
    platform::SockRecv(pair.server.get(), &byte, 1, 0);
  });
  const auto start = SteadyClock::now();
  const int rc = WaitForOne(event, kLongWait);
  const auto took = SteadyClock::now() - start;
  reader.join();
  EXPECT_EQ(rc, 0);
  EXPECT_LT(took, Ms(kLongWait / 2)) << "the re-arming did not wake the wait";
  EXPECT_EQ(event.Enumerate().events, FD_READ);
}

TEST(SocketEventTest, StandsInAWaitSetBesideEvents) {
  Pair pair = Connected();
  SocketEvent event;
  std::optional<platform::Event> end = platform::Event::Create(platform::EventReset::kAuto, false);
  ASSERT_TRUE(end);
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));

  std::thread setter([&] {
    std::this_thread::sleep_for(Ms(50));
    end->Set();
  });
  EXPECT_EQ(platform::WaitForAny({&event, &*end}, kLongWait), 1);
  setter.join();

  SendAll(pair.client.get(), "q");
  ASSERT_TRUE(end->Set());
  EXPECT_EQ(platform::WaitForAny({&event, &*end}, kLongWait), 0);
  EXPECT_TRUE(end->IsSignalled()) << "the event behind the winner keeps its signal";
  EXPECT_EQ(platform::WaitForAny({&end.value(), &event}, kLongWait), 0);
  EXPECT_EQ(platform::WaitForAny({&end.value(), &event}, kLongWait), 1)
      << "the socket event stays signalled until enumerated";
  EXPECT_EQ(event.Enumerate().events, FD_READ);
}

TEST(SocketEventTest, ResetKeepsTheRecord) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.get(), FD_READ | FD_CLOSE));
  SendAll(pair.client.get(), "r");
  ASSERT_EQ(WaitForOne(event, kLongWait), 0);
  event.Reset();
  EXPECT_EQ(WaitForOne(event, kQuietWait), kWaitTimeout);
  EXPECT_EQ(event.Enumerate().events, FD_READ);
}

TEST(SocketEventTest, AssociationEndsWithCloseOrAnotherSelection) {
  Pair pair = Connected();
  SocketEvent first;
  SocketEvent second;
  ASSERT_TRUE(first.Select(pair.server.get(), FD_READ | FD_CLOSE));
  ASSERT_TRUE(second.Select(pair.server.get(), FD_READ | FD_CLOSE));
  EXPECT_EQ(first.SocketFd(), -1);
  SendAll(pair.client.get(), "s");
  EXPECT_FALSE(Next(first, kQuietWait)) << "the socket now belongs to the second object";
  std::optional<NetworkEvents> got = Next(second);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->events, FD_READ);

  char byte = 0;
  ASSERT_EQ(platform::SockRecv(pair.server.get(), &byte, 1, 0), 1);
  ASSERT_EQ(platform::CloseSocket(pair.server.release()), 0);
  EXPECT_EQ(second.SocketFd(), -1);
  pair.client = Sock();
  EXPECT_FALSE(Next(second, kQuietWait)) << "a closed socket reports nothing";

  EXPECT_FALSE(second.Select(-1, FD_READ));
  EXPECT_EQ(platform::LastSocketError(), platform::kWsaENotSock);
}

}  // namespace
