#include "gwsim/ControlServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "gwsim/Endpoint.h"
#include "platform/TcpListener.h"

namespace gwsim {

namespace {

constexpr std::size_t kMaxClients = 8;
// A line longer than this is no command: its client is dropped.
constexpr std::size_t kMaxLine = 64 * 1024;

struct Client {
  platform::UniqueSocket fd;
  std::string input;
  std::string output;
  bool closing = false;  // close once output is sent
};

}  // namespace

ControlServer::ControlServer(const std::string& address, std::uint16_t port, Handler handler)
    : handler_(std::move(handler)) {
  const std::string where = "control port " + Endpoint{address, port}.Text();
  in_addr local{};
  if (!IsLoopback(address) || ::inet_pton(AF_INET, address.c_str(), &local) != 1)
    throw std::runtime_error(where + ": only an address in 127.0.0.0/8 is taken");
  listener_ = platform::ListenTcp({.address = ntohl(local.s_addr), .port = port, .backlog = 8, .nonBlocking = true});
  if (!listener_) throw std::runtime_error(where + ": " + std::strerror(errno));
  port_ = platform::LocalPort(listener_.Get());
  stop_ = platform::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_) throw std::runtime_error(where + ": eventfd: " + std::strerror(errno));
  thread_ = platform::Thread([this] { Loop(); });
}

ControlServer::~ControlServer() { Stop(); }

void ControlServer::Stop() {
  if (!thread_.Joinable()) return;
  ::eventfd_write(stop_.Get(), 1);
  thread_.Join();
}

void ControlServer::Loop() {
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> waits = {{stop_.Get(), POLLIN, 0}, {listener_.Get(), POLLIN, 0}};
    for (const Client& client : clients)
      waits.push_back({client.fd.Get(), static_cast<short>(client.output.empty() ? POLLIN : POLLOUT), 0});
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[0].revents != 0) return;

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = clients[i];
      const short events = waits[i + 2].revents;
      if (events == 0) continue;
      if (!client.output.empty()) {
        const ssize_t n = ::send(client.fd.Get(), client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) client.fd.Reset();
        if (n > 0) client.output.erase(0, static_cast<std::size_t>(n));
        if (client.output.empty() && client.closing) client.fd.Reset();
        continue;
      }
      char buffer[4096];
      const ssize_t n = ::recv(client.fd.Get(), buffer, sizeof buffer, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        client.fd.Reset();
        continue;
      }
      if (n > 0) client.input.append(buffer, static_cast<std::size_t>(n));
      // Lines that arrived together are answered in order, as one reply.
      for (std::size_t end; !client.closing && (end = client.input.find('\n')) != std::string::npos;) {
        std::string line = client.input.substr(0, end);
        client.input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") {
          client.closing = true;
        } else {
          client.output += handler_(line);
        }
      }
      if (client.input.size() > kMaxLine || (client.closing && client.output.empty())) client.fd.Reset();
    }
    std::erase_if(clients, [](const Client& client) { return !client.fd; });

    if (waits[1].revents != 0) {
      platform::UniqueSocket fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (fd && clients.size() < kMaxClients) clients.push_back({std::move(fd), {}, {}, false});
    }
  }
}

}  // namespace gwsim
