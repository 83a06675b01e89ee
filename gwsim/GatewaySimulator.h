#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "gwsim/Behaviour.h"
#include "gwsim/RuleStore.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"

namespace gwsim {

struct HttpRequest;

// One request as it arrived, byte for byte.
struct ReceivedRequest {
  std::string header;  // request line to the empty line
  std::string body;

  bool operator==(const ReceivedRequest&) const = default;
};

struct Statistics {
  std::uint64_t connections = 0;  // accepted
  std::uint64_t requests = 0;     // complete requests read
  std::uint64_t applied = 0;      // bodies understood and applied to the rules
  std::uint64_t rejected = 0;     // authorized bodies not understood: answered, nothing changed
  std::uint64_t errors = 0;       // answered 400, 401, 404 or 405 by the simulator itself
};

// A gateway router's ACL interface, simulated for tests, benchmarks and demonstrations:
// HTTP/1.1 POSTs of form-style ACL orders on /quarantine/qacl.cgi with Basic credentials,
// over keep-alive connections, several at once. Each order changes the rules it keeps; the
// answer is whatever the current Behaviour says.
//
// Threads: the constructor starts a listener thread, which starts one thread per accepted
// connection. Stop (or the destructor) wakes and joins all of them. Every member may be
// called from any thread; one lock guards the rules, the record and the behaviour, and is
// never held while a socket is read or written.
class GatewaySimulator {
 public:
  // Listens on address:port (port 0: the kernel picks one). Only addresses in 127.0.0.0/8
  // are taken unless VELNOR_PRIVATE_NETNS is set in the environment (inside a network
  // namespace a test made). Throws std::runtime_error when it cannot listen.
  GatewaySimulator(const std::string& address, std::uint16_t port, std::string user = "admin",
                   std::string password = "tovin");
  ~GatewaySimulator();
  GatewaySimulator(const GatewaySimulator&) = delete;
  GatewaySimulator& operator=(const GatewaySimulator&) = delete;

  const std::string& Address() const { return address_; }
  std::uint16_t Port() const { return port_; }

  // Closes every connection and joins every thread; later calls do nothing.
  void Stop();

  // Applies to every request read from now on, on every connection.
  void SetBehaviour(const Behaviour& behaviour);
  Behaviour GetBehaviour() const;

  // Every rule of every list as "NAME RULE", sorted.
  std::vector<std::string> Rules() const;
  // Every complete request received, in order (unless recording was turned off).
  std::vector<ReceivedRequest> Requests() const;
  std::uint64_t Connections() const;
  Statistics Stats() const;
  // Whether at least count requests have been received within the time-out.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  // Long runs (benchmarks, the demo) may stop keeping the requests; the rules are kept.
  void RecordRequests(bool on);

 private:
  struct Connection {
    platform::UniqueSocket fd;
    platform::Thread thread;
    std::atomic<bool> done{false};
  };
  // What to do with one request, decided under the lock.
  struct Reply {
    Behaviour behaviour;
    std::string answer;
    bool close = false;
  };

  void Listen();
  void Reap();
  void Serve(int fd);
  Reply Handle(const HttpRequest& request);
  bool Stopping(int timeoutMs) const;
  bool Receive(int fd, std::string& input) const;
  bool SendAll(int fd, std::string_view bytes) const;
  void LingeringClose(int fd) const;
  // An answer's header, then piece every everyMs until Stop, a failed write or the peer's close.
  void Unending(int fd, std::string_view piece, int everyMs) const;
  // Waits timeoutMs, reading and dropping what the peer sends; false on Stop or the peer's close.
  bool Pause(int fd, int timeoutMs) const;

  const std::string address_;
  const std::string user_;
  const std::string password_;
  std::uint16_t port_ = 0;
  platform::UniqueSocket listener_;
  platform::UniqueFd stop_;  // eventfd: written once by Stop and never read, so it stays readable

  mutable std::mutex mutex_;
  mutable std::condition_variable received_;
  Behaviour behaviour_;              // guarded by mutex_
  RuleStore rules_;                  // guarded by mutex_
  std::vector<ReceivedRequest> requests_;  // guarded by mutex_
  bool record_ = true;               // guarded by mutex_
  Statistics stats_;                 // guarded by mutex_

  std::mutex stopMutex_;  // makes Stop one-at-a-time; taken before mutex_, never inside it
  // Touched by the listener thread only, and by Stop once that thread is joined.
  std::list<std::unique_ptr<Connection>> connections_;
  platform::Thread listenerThread_;
};

}  // namespace gwsim
