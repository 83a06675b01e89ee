#include "gwsim/GatewaySimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "gwsim/AclOrder.h"
#include "gwsim/BasicAuth.h"
#include "gwsim/Endpoint.h"
#include "gwsim/HttpAnswer.h"
#include "gwsim/HttpRequest.h"
#include "platform/TcpListener.h"

namespace gwsim {

namespace {

constexpr std::string_view kAclPath = "/quarantine/qacl.cgi";
// How long a connection closed for a malformed request keeps draining what the client still
// sends, so that the close does not reset the connection before the 400 is read.
constexpr int kLingerMs = 500;
// An answer that never ends: its header, then blank lines (kTrickle) or 4 KiB data chunks
// every few milliseconds (kEndless), about 800 KiB a second.
constexpr std::string_view kUnendingHeader = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
constexpr std::size_t kEndlessChunkSize = 4096;
constexpr int kEndlessEveryMs = 5;

std::string EndlessChunk() {
  char size[20];
  std::snprintf(size, sizeof size, "%zx\r\n", kEndlessChunkSize);
  return size + std::string(kEndlessChunkSize, 'x') + "\r\n";
}

int Milliseconds(std::chrono::milliseconds span) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(span.count(), 1, INT_MAX));
}

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
  throw std::runtime_error("GatewaySimulator: " + where + ": " + why);
}

}  // namespace

GatewaySimulator::GatewaySimulator(const std::string& address, std::uint16_t port, std::string user,
                                   std::string password)
    : address_(address), user_(std::move(user)), password_(std::move(password)) {
  const std::string where = Endpoint{address, port}.Text();
  in_addr local{};
  if (::inet_pton(AF_INET, address.c_str(), &local) != 1) Fail(where, "not an IPv4 address");
  if (!IsLoopback(address) && std::getenv("VELNOR_PRIVATE_NETNS") == nullptr)
    Fail(where, "outside 127.0.0.0/8, which is allowed only inside a private network namespace "
                "(VELNOR_PRIVATE_NETNS)");

  listener_ = platform::ListenTcp({.address = ntohl(local.s_addr), .port = port, .nonBlocking = true});
  if (!listener_) Fail(where, std::string("listen: ") + std::strerror(errno));
  port_ = platform::LocalPort(listener_.Get());

  stop_ = platform::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_) Fail(where, std::string("eventfd: ") + std::strerror(errno));
  listenerThread_ = platform::Thread([this] { Listen(); });
}

GatewaySimulator::~GatewaySimulator() { Stop(); }

void GatewaySimulator::Stop() {
  std::lock_guard<std::mutex> stopping(stopMutex_);
  if (!listenerThread_.Joinable()) return;
  ::eventfd_write(stop_.Get(), 1);
  listenerThread_.Join();
  for (auto& connection : connections_) connection->thread.Join();
  connections_.clear();
  listener_.Reset();
}

void GatewaySimulator::SetBehaviour(const Behaviour& behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviour_ = behaviour;
}

Behaviour GatewaySimulator::GetBehaviour() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return behaviour_;
}

std::vector<std::string> GatewaySimulator::Rules() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rules_.Rules();
}

std::vector<ReceivedRequest> GatewaySimulator::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::uint64_t GatewaySimulator::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_.connections;
}

Statistics GatewaySimulator::Stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

bool GatewaySimulator::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return received_.wait_for(lock, timeout, [&] { return stats_.requests >= count; });
}

void GatewaySimulator::RecordRequests(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_ = on;
}

void GatewaySimulator::Listen() {
  for (;;) {
    pollfd waits[2] = {{listener_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
    if (waits[1].revents != 0) return;
    if (waits[0].revents == 0) continue;
    platform::UniqueSocket fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      // Out of descriptors: give the connections a moment to end instead of spinning.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        if (Stopping(50)) return;
      }
      continue;
    }
    Reap();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stats_.connections;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = std::move(fd);
    Connection& served = *connection;
    try {
      connection->thread = platform::Thread([this, &served] {
        try {
          Serve(served.fd.Get());
        } catch (const std::exception&) {
          // Out of memory for one connection: that connection ends, the others go on.
        }
        served.fd.Reset();
        served.done = true;
      });
    } catch (const std::system_error&) {
      continue;  // no thread for it: the connection is closed unanswered
    }
    connections_.push_back(std::move(connection));
  }
}

void GatewaySimulator::Reap() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      (*it)->thread.Join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void GatewaySimulator::Serve(int fd) {
  std::string input;
  for (;;) {
    HttpRequest request;
    const ParseOutcome outcome = ParseHttpRequest(input, request);
    if (outcome.kind == ParseOutcome::kNeedMore) {
      if (!Receive(fd, input)) return;
      continue;
    }
    if (outcome.kind == ParseOutcome::kMalformed) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.errors;
      }
      if (SendAll(fd, HttpAnswer(400, "bad request: " + outcome.reason, false, "Connection: close\r\n")))
        LingeringClose(fd);
      return;
    }
    input.erase(0, outcome.consumed);

    const Reply reply = Handle(request);
    const Behaviour& behaviour = reply.behaviour;
    if (behaviour.fault == Fault::kRefuse) return;
    if (behaviour.fault == Fault::kSilent) continue;
    if (behaviour.delay.count() > 0 &&
        Stopping(static_cast<int>(std::min<std::chrono::milliseconds::rep>(behaviour.delay.count(), INT_MAX))))
      return;
    switch (behaviour.fault) {
      case Fault::kCloseMidAnswer:
        SendAll(fd, TruncatedAnswer(reply.answer));
        return;
      case Fault::kGarbage:
        if (!SendAll(fd, kGarbageAnswer)) return;
        break;
      case Fault::kRaw:
        if (!SendAll(fd, behaviour.raw)) return;
        break;
      case Fault::kTrickle:
        Unending(fd, "\r\n", Milliseconds(behaviour.trickleEvery));
        return;
      case Fault::kEndless:
        Unending(fd, EndlessChunk(), kEndlessEveryMs);
        return;
      default:
        if (!SendAll(fd, reply.answer) || reply.close) return;
        break;
    }
  }
}

GatewaySimulator::Reply GatewaySimulator::Handle(const HttpRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  Reply reply{behaviour_, {}, request.WantsClose()};
  const std::string closeField = reply.close ? "Connection: close\r\n" : "";
  ++stats_.requests;
  if (record_) requests_.push_back({request.header, request.body});
  received_.notify_all();

  const auto authorization = request.Field("Authorization");
  if (!authorization || !BasicAuthorizes(*authorization, user_, password_)) {
    ++stats_.errors;
    reply.answer = HttpAnswer(401, "unauthorized", reply.behaviour.chunked,
                              closeField + "WWW-Authenticate: Basic realm=\"qacl\"\r\n");
  } else if (request.Path() != kAclPath) {
    ++stats_.errors;
    reply.answer = HttpAnswer(404, "not found", reply.behaviour.chunked, closeField);
  } else if (request.method != "POST") {
    ++stats_.errors;
    reply.answer = HttpAnswer(405, "method not allowed", reply.behaviour.chunked, closeField + "Allow: POST\r\n");
  } else {
    if (const auto order = ParseAclOrder(request.body)) {
      rules_.Apply(*order);
      ++stats_.applied;
    } else {
      ++stats_.rejected;
    }
    reply.answer = HttpAnswer(reply.behaviour.status, reply.behaviour.word, reply.behaviour.chunked, closeField);
  }
  return reply;
}

bool GatewaySimulator::Stopping(int timeoutMs) const {
  pollfd wait{stop_.Get(), POLLIN, 0};
  return ::poll(&wait, 1, timeoutMs) > 0;
}

bool GatewaySimulator::Receive(int fd, std::string& input) const {
  pollfd waits[2] = {{fd, POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
  if (::poll(waits, 2, -1) < 0) return errno == EINTR;
  if (waits[1].revents != 0) return false;
  char buffer[16384];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n > 0) {
    input.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

bool GatewaySimulator::SendAll(int fd, std::string_view bytes) const {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd waits[2] = {{fd, POLLOUT, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) return false;
    if (waits[1].revents != 0) return false;
  }
  return true;
}

void GatewaySimulator::Unending(int fd, std::string_view piece, int everyMs) const {
  if (!SendAll(fd, kUnendingHeader)) return;
  while (SendAll(fd, piece) && Pause(fd, everyMs)) {
  }
}

bool GatewaySimulator::Pause(int fd, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    pollfd waits[2] = {{fd, POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    const int ready = ::poll(waits, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    if (waits[1].revents != 0) return false;
    // Whatever the peer sends meanwhile goes unanswered; its close ends the answer.
    char discard[4096];
    const ssize_t n = ::recv(fd, discard, sizeof discard, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
  }
}

void GatewaySimulator::LingeringClose(int fd) const {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd waits[2] = {{fd, POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(waits, 2, static_cast<int>(left.count())) <= 0 || waits[1].revents != 0) return;
    char discard[4096];
    const ssize_t n = ::recv(fd, discard, sizeof discard, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

}  // namespace gwsim
