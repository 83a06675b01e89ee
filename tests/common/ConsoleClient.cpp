#include "tests/common/ConsoleClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace testing_support {

namespace {

constexpr char kPrompt[] = "$ ";

sockaddr_in AddressOf(const std::string& host, std::uint16_t port) {
  sockaddr_in address{AF_INET, htons(port), {}, {}};
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  return address;
}

}  // namespace

ConsoleClient::ConsoleClient(std::uint16_t port, const std::string& source, const std::string& destination) {
  // The listener binds on its own thread after the server has started: a refused connect
  // is tried again for a while.
  const sockaddr_in to = AddressOf(destination, port);
  for (int attempt = 0; attempt < 200; ++attempt) {
    socket_ = platform::UniqueSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!source.empty()) {
      const sockaddr_in from = AddressOf(source, 0);
      if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) break;
    }
    if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return;
    if (errno != ECONNREFUSED) break;
    ::usleep(10000);
  }
  socket_.Reset();
}

bool ConsoleClient::Send(const std::string& bytes) const {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(socket_.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool ConsoleClient::Fill(std::chrono::steady_clock::time_point deadline) {
  if (closed_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd readable{socket_.Get(), POLLIN, 0};
  if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[65536];
  const ssize_t n = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> ConsoleClient::ReadPrompt(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t at = pending_.find(kPrompt);
    if (at != std::string::npos) {
      std::string text = pending_.substr(0, at + 2);
      pending_.erase(0, at + 2);
      return text;
    }
    if (!Fill(deadline)) return std::nullopt;
  }
}

std::optional<std::string> ConsoleClient::Command(const std::string& line, std::chrono::milliseconds timeout) {
  if (!Send(line + "\n")) return std::nullopt;
  std::optional<std::string> reply = ReadPrompt(timeout);
  if (reply) reply->resize(reply->size() - 2);
  return reply;
}

std::string ConsoleClient::Read(std::size_t count, std::chrono::milliseconds timeout) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; pending_.size() < count && Fill(deadline);) {
  }
  std::string bytes = pending_.substr(0, count);
  pending_.erase(0, bytes.size());
  return bytes;
}

std::optional<std::string> ConsoleClient::ReadToClose(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_) {
    if (!Fill(deadline) && !closed_) return std::nullopt;
  }
  return std::exchange(pending_, {});
}

}  // namespace testing_support
