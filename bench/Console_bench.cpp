// Operator command round trips per second over loopback TCP: one session in lock step
// (send a line, wait for the prompt) and ten sessions at once, first against the command
// server, then against a minimal server in this file that receives the same way (a block
// per receive call) and answers each line with a prompt. The minimal server is the limit
// of that receive style on this machine; the ratio says how close the console comes to it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/Loopback.h"
#include "command/NacCmdServer.h"
#include "platform/UniqueFd.h"

namespace {

using bench::FreePort;
using bench::Loopback;

using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 20000;
constexpr int kSessions = 10;
constexpr char kLine[] = "service\n";

// Reads until the text received ends with a prompt.
bool AwaitPrompt(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    if (n >= 2 && buffer[n - 2] == '$' && buffer[n - 1] == ' ') return true;
  }
}

platform::UniqueFd Connect(std::uint16_t port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in to = Loopback(port);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 && AwaitPrompt(fd.Get())) {
      return fd;
    }
    ::usleep(10000);
  }
  std::fprintf(stderr, "bench: no console on port %u\n", port);
  std::exit(1);
}

// Round trips per second of sessions clients, each in lock step, all at once.
double RoundTripsPerSecond(std::uint16_t port, int sessions, int perSession) {
  std::vector<platform::UniqueFd> clients;
  for (int i = 0; i < sessions; ++i) clients.push_back(Connect(port));
  std::atomic<bool> failed{false};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (platform::UniqueFd& client : clients) {
    threads.emplace_back([&failed, fd = client.Get(), perSession] {
      for (int i = 0; i < perSession; ++i) {
        if (::send(fd, kLine, sizeof kLine - 1, MSG_NOSIGNAL) < 0 || !AwaitPrompt(fd)) {
          failed = true;
          return;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failed) {
    std::fprintf(stderr, "bench: a session failed\n");
    std::exit(1);
  }
  return sessions * perSession / seconds;
}

// The limit: one thread per connection, a block per receive, a prompt per line.
class MinimalServer {
 public:
  explicit MinimalServer(std::uint16_t port) : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const int reuse = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const sockaddr_in address = Loopback(port);
    ::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::listen(listener_.Get(), SOMAXCONN);
    acceptor_ = std::thread([this] {
      for (int fd; (fd = ::accept(listener_.Get(), nullptr, nullptr)) >= 0;) {
        connections_.emplace_back([fd] { Serve(fd); });
      }
    });
  }
  ~MinimalServer() {
    ::shutdown(listener_.Get(), SHUT_RDWR);
    acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
  }

 private:
  static void Serve(int fd) {
    platform::UniqueFd owned(fd);
    ::send(fd, "$ ", 2, MSG_NOSIGNAL);
    char block[4096];
    for (ssize_t n; (n = ::recv(fd, block, sizeof block, 0)) > 0;) {
      for (ssize_t i = 0; i < n; ++i) {
        if (block[i] == '\n' && ::send(fd, "$ ", 2, MSG_NOSIGNAL) != 2) return;
      }
    }
  }

  platform::UniqueFd listener_;
  std::thread acceptor_;
  std::vector<std::thread> connections_;
};

struct Figures {
  double single;
  double parallel;
};

Figures Measure(std::uint16_t port) {
  return {RoundTripsPerSecond(port, 1, kRoundTrips), RoundTripsPerSecond(port, kSessions, kRoundTrips / kSessions * 2)};
}

}  // namespace

int main() {
  Figures console{};
  {
    const std::uint16_t port = FreePort();
    CNacCmdServer server;
    if (!server.StartServer(port)) return 1;
    console = Measure(port);
  }
  Figures limit{};
  {
    const std::uint16_t port = FreePort();
    MinimalServer server(port);
    limit = Measure(port);
  }
  std::printf("line \"service\", lock step; round trips per second\n");
  std::printf("%-22s %12s %12s %8s\n", "sessions", "console", "limit", "ratio");
  std::printf("%-22s %12.0f %12.0f %7.1f%%\n", "1", console.single, limit.single, 100 * console.single / limit.single);
  std::printf("%-22s %12.0f %12.0f %7.1f%%\n", "10 at once", console.parallel, limit.parallel,
              100 * console.parallel / limit.parallel);
  return 0;
}
