#include "insight/MetricsServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "insight/MetricsPage.h"
#include "insight/StatusPage.h"
#include "platform/Clock.h"
#include "platform/TcpListener.h"
#include "support/AdminReport.h"
#include "support/Settings.h"
#include "support/Syslog.h"

namespace {

constexpr std::size_t kRequestLimit = 8192;
// A scraper sends its request as soon as it is connected; longer is someone holding a slot.
constexpr std::uint32_t kRequestMs = 2000;
constexpr std::size_t kConnectionLimit = 64;
// With every descriptor taken, the listener is left alone this long between tries.
constexpr std::uint32_t kNoDescriptorPauseMs = 250;

struct Connection {
  platform::UniqueSocket fd;
  std::uint32_t opened = 0;
  std::string in;
  std::string out;
  std::size_t sent = 0;
  bool answered = false;
  bool displaced = false;  // its slot went to a newer connection
};

// headers: more header lines, each ending in CRLF. Without withBody only the header goes
// (the answer to HEAD), its length still the body's.
std::string Answer(int status, const char* reason, const std::string& type, const std::string& body,
                   const char* headers = "", bool withBody = true) {
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
                       "Connection: close\r\n\r\n";
  if (withBody) answer += body;
  return answer;
}

// The page may not run a script or load anything; its own inline style is all it uses.
constexpr char kPageHeaders[] =
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'\r\nCache-Control: no-store\r\n";

// The answer to a whole request header, or a 400 for a broken one.
std::string Respond(std::string_view header) {
  const std::size_t lineEnd = header.find("\r\n");
  const std::string_view line = header.substr(0, lineEnd);
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || !line.substr(second + 1).starts_with("HTTP/1.")) {
    return Answer(400, "Bad Request", "text/plain", "bad request\n");
  }
  const std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, second - first - 1);
  target = target.substr(0, target.find('?'));
  if (target == "/") {
    if (method != "GET" && method != "HEAD") {
      return Answer(405, "Method Not Allowed", "text/plain", "only GET and HEAD\n", "Allow: GET, HEAD\r\n");
    }
    return Answer(200, "OK", "text/html; charset=utf-8", StatusPage(), kPageHeaders, method == "GET");
  }
  if (target != "/metrics") return Answer(404, "Not Found", "text/plain", "not found\n");
  if (method != "GET") return Answer(405, "Method Not Allowed", "text/plain", "only GET\n");
  return Answer(200, "OK", "text/plain; version=0.0.4; charset=utf-8", MetricsPage());
}

bool Admitted(int fd) { return settings::RemoteAccessOn() || platform::PeerIsLoopback(fd); }

// The oldest connection that has not sent its whole request yet; end() when there is none.
std::list<Connection>::iterator OldestWaiting(std::list<Connection>& connections) {
  return std::find_if(connections.begin(), connections.end(),
                      [](const Connection& c) { return !c.answered && !c.displaced; });
}

}  // namespace

bool MetricsServer::Start(std::uint16_t port) {
  listener_ = platform::ListenTcp({.port = port, .nonBlocking = true});
  stop_ = platform::Event::Create(platform::EventReset::kManual, false);
  if (!listener_ || !stop_) {
    ReportFailure(3, "I failed in opening of the metrics port %u: %s.", static_cast<unsigned>(port), std::strerror(errno));
    listener_.Reset();
    return false;
  }
  try {
    thread_ = platform::Thread([this] { Serve(); });
  } catch (const std::system_error&) {
    listener_.Reset();
    return false;
  }
  SyslogSend(6, "I opened the metrics port %u.", static_cast<unsigned>(port));
  return true;
}

MetricsServer::~MetricsServer() {
  if (!thread_.Joinable()) return;
  stop_->Signal();
  thread_.Join();
}

void MetricsServer::Serve() {
  std::list<Connection> connections;
  std::vector<pollfd> fds;
  bool starved = false;              // the last accept found no descriptor free
  std::uint32_t starvedSince = 0;
  for (;;) {
    const bool paused = starved && platform::RealClock().NowMs() - starvedSince < kNoDescriptorPauseMs;
    // At the limit a new connection takes the place of the oldest one still silent, so idle
    // connections cannot keep a scraper out.
    const bool room = connections.size() < kConnectionLimit || OldestWaiting(connections) != connections.end();
    fds.clear();
    fds.push_back({stop_->Fd(), POLLIN, 0});
    fds.push_back({listener_.Get(), static_cast<short>(room && !paused ? POLLIN : 0), 0});
    for (const Connection& connection : connections) {
      fds.push_back({connection.fd.Get(), static_cast<short>(connection.answered ? POLLOUT : POLLIN), 0});
    }
    if (::poll(fds.data(), fds.size(), paused ? static_cast<int>(kNoDescriptorPauseMs) : 250) < 0 && errno != EINTR) {
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[1].revents & POLLIN) != 0) {
      platform::UniqueSocket accepted(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!accepted && (errno == EMFILE || errno == ENFILE)) {
        if (!starved) ReportFailure(3, "I could not accept a metrics connection: no descriptor is free.");
        starved = true;
        starvedSince = platform::RealClock().NowMs();
      } else if (accepted && starved) {
        starved = false;
        SyslogSend(6, "I can accept metrics connections again.");
      }
      if (accepted && Admitted(accepted.Get())) {
        // Closed by the walk below, which keeps the connections in step with fds.
        if (connections.size() >= kConnectionLimit) OldestWaiting(connections)->displaced = true;
        connections.push_back({std::move(accepted), platform::RealClock().NowMs(), {}, {}, 0, false, false});
      }
    }
    const std::uint32_t now = platform::RealClock().NowMs();
    std::size_t index = 2;
    for (auto it = connections.begin(); it != connections.end(); ++index) {
      Connection& connection = *it;
      bool done = false;
      if (index < fds.size() && (fds[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !connection.answered) {
        char buffer[2048];
        const ssize_t got = ::recv(connection.fd.Get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
          done = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        } else {
          connection.in.append(buffer, static_cast<std::size_t>(got));
          const std::size_t end = connection.in.find("\r\n\r\n");
          if (end != std::string::npos) {
            connection.out = Respond(std::string_view(connection.in).substr(0, end));
            connection.answered = true;
          } else if (connection.in.size() > kRequestLimit) {
            connection.out = Answer(400, "Bad Request", "text/plain", "request too large\n");
            connection.answered = true;
          }
        }
      }
      if (!done && connection.answered) {
        const ssize_t put = ::send(connection.fd.Get(), connection.out.data() + connection.sent,
                                   connection.out.size() - connection.sent, MSG_NOSIGNAL);
        if (put > 0) connection.sent += static_cast<std::size_t>(put);
        done = connection.sent == connection.out.size() || (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
      }
      // A client that has not sent its whole request in time is let go.
      if (!connection.answered && (now - connection.opened > kRequestMs || connection.displaced)) done = true;
      it = done ? connections.erase(it) : std::next(it);
    }
  }
}
