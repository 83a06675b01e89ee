#include "platform/SocketEvent.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Socket.h"
#include "platform/SocketError.h"
#include "platform/WaitSet.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;

constexpr uint32_t kLongWait = 3000;
constexpr uint32_t kQuietWait = 200;

struct Sock {
  int fd = -1;
  explicit Sock(int f = -1) : fd(f) {}
  Sock(Sock&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
  ~Sock() {
    if (fd >= 0) CloseSocket(fd);
  }
};

sockaddr_in Loopback(uint16_t port) { return {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}}; }

uint16_t PortOf(const Sock& s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(s.fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

Sock Listener() {
  Sock s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in addr = Loopback(0);
  EXPECT_EQ(bind(s.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(listen(s.fd, SOMAXCONN), 0);
  return s;
}

Sock Client(uint16_t port) {
  Sock s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in addr = Loopback(port);
  EXPECT_EQ(connect(s.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << errno;
  return s;
}

struct Pair {
  Sock server;  // the accepted end, which the tests select
  Sock client;
};

Pair Connected() {
  Sock listener = Listener();
  Sock client = Client(PortOf(listener));
  return {Sock(SockAccept(listener.fd, nullptr, nullptr)), std::move(client)};
}

// The events of the next wakeup, or -1 when none came in time.
int Next(SocketEvent& event, uint32_t timeoutMs = kLongWait) {
  return WaitForOne(event, timeoutMs) == 0 ? static_cast<int>(event.Enumerate().events) : -1;
}

void Send(const Sock& s, const std::string& bytes) {
  ASSERT_EQ(send(s.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

char RecvByte(const Sock& s) {
  char byte = 0;
  EXPECT_EQ(SockRecv(s.fd, &byte, 1, 0), 1);
  return byte;
}

TEST(SocketEventTest, AcceptIsRecordedAgainOnlyAfterAnAccept) {
  Sock listener = Listener();
  SocketEvent event;
  ASSERT_TRUE(event.Select(listener.fd, FD_ACCEPT | FD_CLOSE));
  EXPECT_EQ(Next(event, kQuietWait), -1);
  Sock first = Client(PortOf(listener));
  Sock second = Client(PortOf(listener));
  EXPECT_EQ(Next(event), FD_ACCEPT);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "two connections wait, but nothing was accepted";
  Sock accepted(SockAccept(listener.fd, nullptr, nullptr));
  ASSERT_GE(accepted.fd, 0);
  EXPECT_EQ(Next(event), FD_ACCEPT) << "the second connection still waits";
  Sock accepted2(SockAccept(listener.fd, nullptr, nullptr));
  ASSERT_GE(accepted2.fd, 0);
  EXPECT_EQ(Next(event, kQuietWait), -1);
}

TEST(SocketEventTest, ReadIsRecordedAgainOnlyAfterAReceive) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.fd, FD_READ | FD_CLOSE));
  EXPECT_EQ(Next(event, kQuietWait), -1);
  Send(pair.client, "abc");
  EXPECT_EQ(Next(event), FD_READ);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "bytes wait, but no receive was made";
  EXPECT_EQ(RecvByte(pair.server), 'a');
  EXPECT_EQ(Next(event), FD_READ) << "two bytes still wait";
  char rest[8];
  ASSERT_EQ(SockRecv(pair.server.fd, rest, sizeof rest, 0), 2);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "everything was read";
  Send(pair.client, "d");
  EXPECT_EQ(Next(event), FD_READ);
}

TEST(SocketEventTest, GracefulCloseComesAfterTheLastByteAndOnce) {
  Pair pair = Connected();
  Send(pair.client, "xy");
  CloseSocket(std::exchange(pair.client.fd, -1));
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.fd, FD_READ | FD_CLOSE));
  for (const char expected : {'x', 'y'}) {
    EXPECT_EQ(Next(event), FD_READ) << "bytes come before the close";
    EXPECT_EQ(RecvByte(pair.server), expected);
  }
  ASSERT_TRUE(WaitForOne(event, kLongWait) == 0);
  const NetworkEvents got = event.Enumerate();
  EXPECT_EQ(got.events, FD_CLOSE);
  EXPECT_EQ(got.errorCodes[FD_CLOSE_BIT], 0);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "the close is reported once";
}

// Whether or not a receive has already taken the socket's error, the close carries 10054.
TEST(SocketEventTest, ResetByThePeerIsACloseWithConnReset) {
  for (const bool receiveFirst : {false, true}) {
    Pair pair = Connected();
    SocketEvent event;
    ASSERT_TRUE(event.Select(pair.server.fd, FD_READ | FD_CLOSE));
    const linger abort{1, 0};
    ASSERT_EQ(setsockopt(pair.client.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    CloseSocket(std::exchange(pair.client.fd, -1));
    if (receiveFirst) {
      std::this_thread::sleep_for(50ms);
      char byte;
      EXPECT_LT(SockRecv(pair.server.fd, &byte, 1, 0), 0);
    }
    ASSERT_EQ(WaitForOne(event, kLongWait), 0) << receiveFirst;
    const NetworkEvents got = event.Enumerate();
    EXPECT_EQ(got.events, FD_CLOSE) << receiveFirst;
    EXPECT_EQ(got.errorCodes[FD_CLOSE_BIT], 10054) << receiveFirst;
    EXPECT_EQ(Next(event, kQuietWait), -1);
  }
}

TEST(SocketEventTest, WriteComesOnceWithoutSpinningAndAgainOnlyAfterASendWouldBlock) {
  Pair pair = Connected();
  const int buf = 4096;
  ASSERT_EQ(setsockopt(pair.client.fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf), 0);
  ASSERT_EQ(setsockopt(pair.server.fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf), 0);
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.fd, FD_READ | FD_WRITE | FD_CLOSE));
  EXPECT_EQ(Next(event), FD_WRITE);
  timespec before{}, after{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "writable, but no send would block";
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  EXPECT_LT((after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6, 50.0)
      << "the quiet wait burnt the processor instead of sleeping";
  ASSERT_EQ(SockSend(pair.server.fd, "hi", 2, 0), 2);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "a send that goes through re-arms nothing";

  const std::vector<char> chunk(1024, 'z');
  std::size_t sent = 2;
  for (ssize_t n = 0; n >= 0 && sent < 64u << 20;
       n = SockSend(pair.server.fd, chunk.data(), chunk.size(), 0)) {
    sent += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(errno, EAGAIN) << "the buffers never filled";
  std::vector<char> sink(sent);
  for (std::size_t drained = 0; drained < sent;) {
    const ssize_t n = recv(pair.client.fd, sink.data(), sent - drained, 0);
    ASSERT_GT(n, 0);
    drained += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(Next(event), FD_WRITE) << "space became free after a send that would block";
  EXPECT_EQ(Next(event, kQuietWait), -1);
}

TEST(SocketEventTest, ConnectReportsSuccessOrConnRefused) {
  Sock listener = Listener();
  const uint16_t openPort = PortOf(listener);
  uint16_t closedPort = PortOf(Listener());  // closed again at once
  for (const uint16_t port : {openPort, closedPort}) {
    Sock client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    SocketEvent event;
    ASSERT_TRUE(event.Select(client.fd, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE));
    EXPECT_EQ(Next(event, kQuietWait), -1) << "an unconnected socket has nothing to report";
    const sockaddr_in addr = Loopback(port);
    if (SockConnect(client.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      ASSERT_EQ(errno, EINPROGRESS);
    }
    ASSERT_EQ(WaitForOne(event, kLongWait), 0);
    const NetworkEvents got = event.Enumerate();
    if (port == openPort) {
      EXPECT_EQ(got.events, FD_CONNECT | FD_WRITE);
      EXPECT_EQ(got.errorCodes[FD_CONNECT_BIT], 0);
    } else {
      EXPECT_EQ(got.events, FD_CONNECT) << "a failed connect is no close";
      EXPECT_EQ(got.errorCodes[FD_CONNECT_BIT], 10061);
    }
    EXPECT_EQ(Next(event, kQuietWait), -1);
  }
}

TEST(SocketEventTest, ReceiveOnAnotherThreadWakesTheWaiter) {
  Pair pair = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(pair.server.fd, FD_READ | FD_CLOSE));
  Send(pair.client, "abcd");
  ASSERT_EQ(Next(event), FD_READ);
  std::thread reader([&] {
    std::this_thread::sleep_for(100ms);
    RecvByte(pair.server);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForOne(event, kLongWait), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms)
      << "the re-arming did not wake the wait";
  reader.join();
  EXPECT_EQ(event.Enumerate().events, FD_READ);
}

}  // namespace
