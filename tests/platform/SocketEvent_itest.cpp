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
#include "platform/TcpListener.h"
#include "platform/UniqueFd.h"
#include "platform/WaitSet.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;

constexpr uint32_t kLongWait = 3000;
constexpr uint32_t kQuietWait = 200;

using Sock = UniqueSocket;

Sock Listener() {
  Sock s = ListenTcp({.address = INADDR_LOOPBACK});
  EXPECT_TRUE(s);
  return s;
}

Sock Client(uint16_t port) {
  Sock s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  EXPECT_EQ(connect(s.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << errno;
  return s;
}

// {accepted end, which the tests select; client}
std::pair<Sock, Sock> Connected() {
  Sock listener = Listener();
  Sock client = Client(LocalPort(listener.Get()));
  return {Sock(SockAccept(listener.Get(), nullptr, nullptr)), std::move(client)};
}

// The events of the next wakeup, or -1 when none came in time.
int Next(SocketEvent& event, uint32_t timeoutMs = kLongWait) {
  return WaitForOne(event, timeoutMs) == 0 ? static_cast<int>(event.Enumerate().events) : -1;
}

void Send(const Sock& s, const std::string& bytes) {
  ASSERT_EQ(send(s.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// The processor time this thread spends in a wait of kQuietWait that must time out.
double QuietWaitCpuMs(SocketEvent& event) {
  timespec before{}, after{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  EXPECT_EQ(Next(event, kQuietWait), -1);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  return (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
}

char RecvByte(const Sock& s) {
  char byte = 0;
  EXPECT_EQ(SockRecv(s.Get(), &byte, 1, 0), 1);
  return byte;
}

TEST(SocketEventTest, AcceptIsRecordedAgainOnlyAfterAnAccept) {
  Sock listener = Listener();
  SocketEvent event;
  ASSERT_TRUE(event.Select(listener.Get(), FD_ACCEPT | FD_CLOSE));
  EXPECT_EQ(Next(event, kQuietWait), -1);
  Sock first = Client(LocalPort(listener.Get())), second = Client(LocalPort(listener.Get()));
  for (int waiting = 2; waiting > 0; --waiting) {
    EXPECT_EQ(Next(event), FD_ACCEPT) << waiting;
    EXPECT_EQ(Next(event, kQuietWait), -1) << "connections wait, but nothing was accepted";
    ASSERT_TRUE(Sock(SockAccept(listener.Get(), nullptr, nullptr)));
  }
  EXPECT_EQ(Next(event, kQuietWait), -1);
}

TEST(SocketEventTest, ReadIsRecordedAgainOnlyAfterAReceive) {
  auto [server, client] = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(server.Get(), FD_READ | FD_CLOSE));
  EXPECT_EQ(Next(event, kQuietWait), -1);
  Send(client, "abc");
  EXPECT_EQ(Next(event), FD_READ);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "bytes wait, but no receive was made";
  EXPECT_EQ(RecvByte(server), 'a');
  EXPECT_EQ(Next(event), FD_READ) << "two bytes still wait";
  char rest[8];
  ASSERT_EQ(SockRecv(server.Get(), rest, sizeof rest, 0), 2);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "everything was read";
  Send(client, "de");
  ASSERT_EQ(Next(event), FD_READ);
  std::thread reader([&server] {
    std::this_thread::sleep_for(100ms);
    RecvByte(server);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Next(event), FD_READ) << "a receive on another thread re-arms the wait";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "the re-arming did not wake the wait";
  reader.join();
}

TEST(SocketEventTest, GracefulCloseComesAfterTheLastByteAndOnce) {
  auto [server, client] = Connected();
  Send(client, "xy");
  client.Reset();
  SocketEvent event;
  ASSERT_TRUE(event.Select(server.Get(), FD_READ | FD_CLOSE));
  for (const char expected : {'x', 'y'}) {
    EXPECT_EQ(Next(event), FD_READ) << "bytes come before the close";
    EXPECT_EQ(RecvByte(server), expected);
  }
  EXPECT_EQ(Next(event), FD_CLOSE);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "the close is reported once";
}

// Whether or not a receive has already taken the socket's error, a reset is a close, once.
TEST(SocketEventTest, ResetByThePeerIsAClose) {
  for (const bool receiveFirst : {false, true}) {
    auto [server, client] = Connected();
    SocketEvent event;
    ASSERT_TRUE(event.Select(server.Get(), FD_READ | FD_CLOSE));
    const linger abort{1, 0};
    ASSERT_EQ(setsockopt(client.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    client.Reset();
    if (receiveFirst) {
      std::this_thread::sleep_for(50ms);
      char byte;
      EXPECT_LT(SockRecv(server.Get(), &byte, 1, 0), 0);
    }
    EXPECT_EQ(Next(event), FD_CLOSE) << receiveFirst;
    EXPECT_EQ(Next(event, kQuietWait), -1);
  }
}

TEST(SocketEventTest, WriteComesOnceWithoutSpinningAndAgainOnlyAfterASendWouldBlock) {
  auto [server, client] = Connected();
  const int buf = 4096;
  ASSERT_EQ(setsockopt(client.Get(), SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf), 0);
  ASSERT_EQ(setsockopt(server.Get(), SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf), 0);
  SocketEvent event;
  ASSERT_TRUE(event.Select(server.Get(), FD_READ | FD_WRITE | FD_CLOSE));
  EXPECT_EQ(Next(event), FD_WRITE);
  EXPECT_LT(QuietWaitCpuMs(event), 50.0) << "writable, but no send would block; the wait must sleep";
  ASSERT_EQ(SockSend(server.Get(), "hi", 2, 0), 2);
  EXPECT_EQ(Next(event, kQuietWait), -1) << "a send that goes through re-arms nothing";

  const std::vector<char> chunk(1024, 'z');
  std::size_t sent = 2;
  for (ssize_t n = 0; n >= 0 && sent < 64u << 20; n = SockSend(server.Get(), chunk.data(), chunk.size(), 0)) {
    sent += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(errno, EAGAIN) << "the buffers never filled";
  std::vector<char> sink(sent);
  for (std::size_t drained = 0; drained < sent;) {
    const ssize_t n = recv(client.Get(), sink.data(), sent - drained, 0);
    ASSERT_GT(n, 0);
    drained += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(Next(event), FD_WRITE) << "space became free after a send that would block";
  EXPECT_EQ(Next(event, kQuietWait), -1);
}

// After CloseSocket the number is free of its selection: a new socket that gets it neither
// signals the old object nor re-arms it through its calls.
TEST(SocketEventTest, ANumberTakenAgainAfterCloseSocketIsANewSocket) {
  auto [server, client] = Connected();
  auto [other, peer] = Connected();
  SocketEvent old;
  ASSERT_TRUE(old.Select(server.Get(), FD_READ | FD_CLOSE));
  const int number = server.Get();
  server.Reset();
  EXPECT_EQ(old.SocketFd(), -1);
  const Sock reused(dup2(other.Get(), number));
  Send(peer, "xy");
  EXPECT_EQ(Next(old, kQuietWait), -1);
  EXPECT_EQ(RecvByte(reused), 'x');
  EXPECT_EQ(Next(old, kQuietWait), -1);
  SocketEvent fresh;
  ASSERT_TRUE(fresh.Select(reused.Get(), FD_READ));
  EXPECT_EQ(Next(fresh), FD_READ);
}

// A selected socket closed with a plain close: the object finds the number closed, records
// nothing and does not spin.
TEST(SocketEventTest, APlainCloseOfASelectedSocketRecordsNothing) {
  auto [server, client] = Connected();
  SocketEvent event;
  ASSERT_TRUE(event.Select(server.Get(), FD_READ | FD_CLOSE));
  close(server.Release());
  Send(client, "x");
  EXPECT_LT(QuietWaitCpuMs(event), 50.0);
}

}  // namespace
