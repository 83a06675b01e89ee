// A sender's receiving side on a real loopback connection: bytes that wait are read even when
// their read event was already handed over, and a peer that never stops sending is cut off
// at the 3 s bound like a silent one, also when the tick count wraps meanwhile.

#include "delivery/SocketReceiver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/SocketEvent.h"
#include "platform/TcpListener.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"
#include "support/Syslog.h"
#include "tests/common/ManualClock.h"

namespace {

using namespace std::chrono_literals;

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

// A connected pair on loopback: the sender's end, selected as a sender selects it, and the
// gateway's end.
class Connection {
 public:
  Connection() {
    const platform::UniqueSocket listener = platform::ListenTcp({.address = INADDR_LOOPBACK, .backlog = 1});
    const sockaddr_in at{AF_INET, htons(platform::LocalPort(listener.Get())), {htonl(INADDR_LOOPBACK)}, {}};
    sender_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(sender_, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    gateway_.Reset(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    EXPECT_TRUE(socketEvent_.Select(sender_, platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE));
    receiver_.emplace(sender_, socketEvent_, *stop_, endFlag_);
  }
  ~Connection() {
    if (sender_ >= 0) (void)platform::CloseSocket(sender_);  // released whatever close reports
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int Gateway() const { return gateway_.Get(); }
  platform::SocketEvent& Event() { return socketEvent_; }
  SocketReceiver& Receiver() { return *receiver_; }
  // Waits until count bytes can be read at the sender's end.
  bool Waiting(int count) {
    for (int round = 0; round < 200; ++round) {
      int waiting = 0;
      if (::ioctl(sender_, FIONREAD, &waiting) == 0 && waiting >= count) return true;
      pollfd readable{sender_, POLLIN, 0};
      ::poll(&readable, 1, 10);
    }
    return false;
  }

 private:
  int sender_ = -1;
  platform::UniqueFd gateway_;
  platform::SocketEvent socketEvent_;
  std::optional<platform::Event> stop_ = platform::Event::Create(platform::EventReset::kAuto, false);
  std::atomic<int> endFlag_{0};
  std::optional<SocketReceiver> receiver_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(SocketReceiverTest, ReadsWhatWaitsAfterItsReadEventWasHandedOver) {
  Connection connection;
  const std::string answer = "HTTP/1.1 200 OK\r\n\r\n";
  ASSERT_EQ(::send(connection.Gateway(), answer.data(), answer.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(answer.size()));
  ASSERT_TRUE(connection.Waiting(static_cast<int>(answer.size())));
  // What the receiver's own enumeration does when the bytes land between its count and
  // its enumeration: the read event is taken, and not signalled again until a receive.
  ASSERT_NE(connection.Event().Enumerate().events & platform::FD_READ, 0);

  const auto start = std::chrono::steady_clock::now();
  std::string header;
  EXPECT_EQ(connection.Receiver().RecvUntil(header, 4096, "\r\n\r\n"), static_cast<int>(answer.size()));
  EXPECT_EQ(header, answer);
  EXPECT_LT(Seconds(start), 2.5) << "waited for an event that had already come";  // until the 3 s bound
}

TEST(SocketReceiverTest, EndlessSenderIsCutOffAtTheBound) {
  Connection connection;
  // The gateway sends for 10 s unless the connection ends first.
  platform::Thread gateway([fd = connection.Gateway()] {
    const std::vector<char> block(65536, 'x');
    for (const auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
      pollfd room{fd, POLLOUT, 0};
      if (::poll(&room, 1, 100) > 0 && ::send(fd, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
          errno != EAGAIN) {
        return;
      }
    }
  });
  const auto start = std::chrono::steady_clock::now();
  std::string body;
  EXPECT_EQ(connection.Receiver().RecvUntil(body, 4294967295u, nullptr), -1);
  const double took = Seconds(start);
  EXPECT_GE(took, 2.9);
  EXPECT_LT(took, 8.0) << "read as long as bytes came";  // the gateway sends for 10 s
  EXPECT_GT(body.size(), 0u);
  ::shutdown(connection.Gateway(), SHUT_RDWR);
  gateway.Join();
}

// The tick count is 32 bits of milliseconds: it wraps every 49.7 days, and the bound is
// counted across the wrap, 2.5 s into it here, as across any other millisecond.
TEST(SocketReceiverTest, TheBoundHoldsWhenTheTickCountWraps) {
  testing_support::ManualClock clock;
  clock.StartTicksAt(0xFFFFFFFFu - 2500);
  Connection connection;
  const auto start = std::chrono::steady_clock::now();
  std::string header;
  EXPECT_EQ(connection.Receiver().RecvUntil(header, 4096, "\r\n\r\n"), -1);
  EXPECT_GE(Seconds(start), 2.9) << "the wrap ended the wait early";
  EXPECT_LT(Seconds(start), 5.0) << "the wrap started the wait again";
}

}  // namespace
