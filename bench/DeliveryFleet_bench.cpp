// Delivery at fleet scale, against simulated gateways on loopback addresses 127.0.x.y (one
// address per gateway: the dispatcher knows a gateway by its address). The gateways run in a
// process of their own, so that the resident memory read here is the delivery's alone; each
// scenario runs in a child process of its own, so that one's peak memory and stuck threads do
// not reach the next. As root, all of it runs in a network namespace of its own.
//
//   storm    200 gateways that answer each request after 20 ms, owed 52 requests each, with
//            SENDERS=64: the time until every gateway has all of its requests, against the
//            gateways' own limit (200 x 52 x 20 ms / 64).
//   stuck    five gateways that take connections and never answer, with requests queued; then
//            a healthy gateway's set of 52, and a change for it later.
//   endless  five gateways whose chunked answers never end and five that trickle a blank line
//            every 2 s; then a healthy gateway's set; resident memory over about 30 s.
//   memory   200 gateways that answer at once, owed 2,002 requests each: peak resident memory,
//            the bytes each queued request costs beyond its body, and the convergence.
//
// Every scenario ends by timing the dispatcher's stop (PostQuit, WaitForEnd and destruction)
// with whatever is still in flight. Every wait is capped: a figure that was not reached says
// so. Arguments pick scenarios (default: all, in the order above). The log threshold is 3, so
// that no line per request is sent.

#include <arpa/inet.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/Require.h"
#include "delivery/NacHttpClient.h"
#include "gwsim/GatewaySimulator.h"
#include "platform/Thread.h"
#include "platform/UniqueFd.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using gwsim::Behaviour;
using gwsim::Fault;

constexpr auto kCap = 60s;          // the longest wait for any one figure
constexpr auto kMemoryCap = 180s;   // the memory scenario's convergence: the old delivery needs more than a minute
constexpr auto kStopCap = 60s;
constexpr int kOwed = 52;  // a gateway's set in the storm, and the healthy gateway's

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

double Seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0 && line.size() > field.size() && line[field.size()] == ':')
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

double Mb(long kb) { return static_cast<double>(kb) / 1024; }

// Gateway n's address: 127.0.block.(1..250), away from 127.0.0.1 where the log collector is.
std::string Address(int block, int n) {
  return "127.0." + std::to_string(block + n / 250) + "." + std::to_string(n % 250 + 1);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct GatewaySetup {
  std::string address;
  Behaviour behaviour;
};

// The simulated gateways, in a process forked before this one starts any thread. Over a
// socket pair it reports each gateway's port once, then the requests each has read so far on
// every query; it ends when this side closes the pair, or with this process.
class GatewayHost {
 public:
  explicit GatewayHost(const std::vector<GatewaySetup>& setups) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) Fail("socketpair");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) Fail("fork");
    if (pid_ == 0) {
      ::close(pair[0]);
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) std::_Exit(0);
      Serve(pair[1], setups);
    }
    ::close(pair[1]);
    channel_ = platform::UniqueFd(pair[0]);
    ports_.resize(setups.size());
    if (!ReadAll(channel_.Get(), ports_.data(), ports_.size() * sizeof(std::uint16_t)))
      Fail("the gateways did not start");
  }
  ~GatewayHost() {
    channel_.Reset();
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  GatewayHost(const GatewayHost&) = delete;
  GatewayHost& operator=(const GatewayHost&) = delete;

  std::uint16_t Port(std::size_t n) const { return ports_[n]; }

  // The requests each gateway has read so far.
  std::vector<std::uint64_t> Requests() const {
    std::vector<std::uint64_t> counts(ports_.size());
    const char query = 'q';
    if (!WriteAll(channel_.Get(), &query, 1) ||
        !ReadAll(channel_.Get(), counts.data(), counts.size() * sizeof(std::uint64_t)))
      Fail("the gateways' process ended");
    return counts;
  }

 private:
  [[noreturn]] static void Serve(int fd, const std::vector<GatewaySetup>& setups) {
    std::vector<std::unique_ptr<gwsim::GatewaySimulator>> gateways;
    std::vector<std::uint16_t> ports;
    try {
      for (const GatewaySetup& setup : setups) {
        gateways.push_back(std::make_unique<gwsim::GatewaySimulator>(setup.address, 0));
        gateways.back()->RecordRequests(false);
        gateways.back()->SetBehaviour(setup.behaviour);
        ports.push_back(gateways.back()->Port());
      }
    } catch (const std::exception& error) {
      Fail(error.what());
    }
    if (!WriteAll(fd, ports.data(), ports.size() * sizeof(std::uint16_t))) std::_Exit(0);
    std::vector<std::uint64_t> counts(gateways.size());
    char query = 0;
    while (ReadAll(fd, &query, 1)) {
      for (std::size_t n = 0; n < gateways.size(); ++n) counts[n] = gateways[n]->Stats().requests;
      if (!WriteAll(fd, counts.data(), counts.size() * sizeof(std::uint64_t))) break;
    }
    // Connections that stream for ever end with the process; there is nothing to keep.
    std::_Exit(0);
  }

  pid_t pid_ = -1;
  platform::UniqueFd channel_;
  std::vector<std::uint16_t> ports_;
};

using Counts = std::vector<std::uint64_t>;

// Polls the gateways until done holds for their request counts, or cap has passed: the time
// it took, or none.
std::optional<double> WaitFor(const GatewayHost& host, const std::function<bool(const Counts&)>& done,
                              Clock::duration cap, Clock::time_point start = Clock::now()) {
  for (;;) {
    if (done(host.Requests())) return Seconds(Clock::now() - start);
    if (Clock::now() - start >= cap) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

// Whether gateways first..first+count-1 have read at least target requests each.
std::function<bool(const Counts&)> AtLeast(std::size_t first, std::size_t count, std::uint64_t target) {
  return [=](const Counts& counts) {
    for (std::size_t n = first; n < first + count; ++n)
      if (counts[n] < target) return false;
    return true;
  };
}

void PrintWait(const char* what, const std::optional<double>& seconds, Clock::duration cap) {
  if (seconds) {
    std::printf("  %-60s %8.3f s\n", what, *seconds);
  } else {
    std::printf("  %-60s did not converge in %.0f s\n", what, Seconds(cap));
  }
}

// Gateway n's share of requests, as the rule walks make them: the two resets first when
// resets is set, then one ACL line a PC.
std::vector<std::unique_ptr<CHttpData>> Requests(const GatewayHost& host, const std::vector<GatewaySetup>& setups,
                                                 std::size_t n, int count, bool resets, int serial = 0) {
  std::vector<std::unique_ptr<CHttpData>> requests;
  const std::string& address = setups[n].address;
  auto make = [&](std::int32_t requestClass, std::int32_t opcode, std::int32_t lines, const char* acl) {
    auto request = std::make_unique<CHttpData>();
    Require(CHttpDataList::MakeHttpData(*request, "admin", "tovin", 1, requestClass, opcode, lines, acl, address) == 1,
            "request");
    request->address = ::inet_addr(address.c_str());
    request->port = host.Port(n);
    requests.push_back(std::move(request));
  };
  if (resets) {
    make(CHttpDataList::kClient, CHttpDataList::kReset, 0, nullptr);
    make(CHttpDataList::kQuarantine, CHttpDataList::kReset, 0, nullptr);
    count -= 2;
  }
  for (int i = serial; i < serial + count; ++i) {
    const std::string acl = "add access-list pc accept protocol tcp source 10." + std::to_string(i / 62500) + "." +
                            std::to_string(i / 250 % 250) + "." + std::to_string(i % 250 + 1) +
                            " destination 172.17.254.254/32";
    make(CHttpDataList::kClient, CHttpDataList::kSet, 1, acl.c_str());
  }
  return requests;
}

void Queue(std::vector<std::unique_ptr<CHttpData>> requests, CNacHttpClient& client) {
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    for (auto& request : requests) pending.AddTail(request.release(), guard);
  }
  if (!client.EventSend()) Fail("EventSend failed");
}

// Runs then on a thread of its own at a time unless it is destroyed first.
class AtTime {
 public:
  AtTime(Clock::time_point at, std::function<void()> then)
      : thread_([this, at, then = std::move(then)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cancelled_.wait_until(lock, at, [this] { return cancel_; })) then();
        }) {}
  ~AtTime() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancel_ = true;
    }
    cancelled_.notify_all();
    thread_.Join();
  }
  AtTime(const AtTime&) = delete;
  AtTime& operator=(const AtTime&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_;
  bool cancel_ = false;
  platform::Thread thread_;
};

void TimeStop(std::unique_ptr<CNacHttpClient>& client) {
  constexpr char kWhat[] = "stop with all in flight (PostQuit, WaitForEnd, delete)";
  const auto start = Clock::now();
  // An old dispatcher may never end; the next scenario is still to be run.
  const AtTime watchdog(start + kStopCap, [&] {
    std::printf("  %-60s did not end in %.0f s\n", kWhat, Seconds(kStopCap));
    std::fflush(stdout);
    std::_Exit(0);
  });
  if (!client->PostQuit()) Fail("PostQuit failed");
  client->WaitForEnd();
  client.reset();
  std::printf("  %-60s %8.3f s (target < 2 s)\n", kWhat, Seconds(Clock::now() - start));
}

// A working directory of its own, with Velnor.ini when there are settings.
class WorkDirectory {
 public:
  explicit WorkDirectory(const std::string& ini) {
    char pattern[] = "/tmp/velnor-fleet-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("mkdtemp");
    path_ = pattern;
    if (!ini.empty()) std::ofstream(path_ / "Velnor.ini") << ini;
    std::filesystem::current_path(path_);
  }
  ~WorkDirectory() {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;

 private:
  std::filesystem::path path_;
};

// The dispatcher reads Velnor.ini in the working directory when it is made.
std::unique_ptr<CNacHttpClient> MakeClient(const std::string& ini) {
  const WorkDirectory directory(ini);
  return std::make_unique<CNacHttpClient>();
}

void Storm() {
  constexpr int kGateways = 200, kSenders = 64;
  constexpr auto kAnswer = 20ms;
  std::vector<GatewaySetup> setups;
  for (int n = 0; n < kGateways; ++n) setups.push_back({Address(1, n), {.delay = kAnswer}});
  const GatewayHost host(setups);
  auto client = MakeClient("[HTTP]\nSENDERS=" + std::to_string(kSenders) + "\n");

  std::vector<std::vector<std::unique_ptr<CHttpData>>> sets;
  for (int n = 0; n < kGateways; ++n) sets.push_back(Requests(host, setups, n, kOwed, true));
  const auto start = Clock::now();
  for (auto& set : sets) Queue(std::move(set), *client);
  const auto converged = WaitFor(host, AtLeast(0, kGateways, kOwed), kCap, start);

  const double limit = Seconds(kGateways * kOwed * kAnswer) / kSenders;
  std::printf("storm: %d gateways answering after %lld ms, %d requests each, SENDERS=%d\n", kGateways,
              static_cast<long long>(kAnswer.count()), kOwed, kSenders);
  PrintWait("every gateway has all its requests", converged, kCap);
  std::printf("  %-60s %8.3f s\n", "the gateways' own limit (gateways x owed x answer / SENDERS)", limit);
  if (converged) std::printf("  %-60s %8.2f (target <= 2.5)\n", "ratio", *converged / limit);
  std::fflush(stdout);
  TimeStop(client);
}

// Queues a set for each of the first faulty gateways and waits until each has read a request
// of it, so that they hold whatever the dispatcher gave them.
void QueueFaulty(const GatewayHost& host, const std::vector<GatewaySetup>& setups, std::size_t faulty,
                 CNacHttpClient& client) {
  for (std::size_t n = 0; n < faulty; ++n) Queue(Requests(host, setups, n, kOwed, true), client);
  if (!WaitFor(host, AtLeast(0, faulty, 1), 10s))
    std::printf("  (not every faulty gateway had a request within 10 s)\n");
}

void Stuck() {
  constexpr std::size_t kStuck = 5;
  std::vector<GatewaySetup> setups;
  for (std::size_t n = 0; n < kStuck; ++n)
    setups.push_back({Address(1, static_cast<int>(n)), {.fault = Fault::kSilent}});
  setups.push_back({Address(2, 0), {}});
  const std::size_t healthy = kStuck;
  const GatewayHost host(setups);
  auto client = MakeClient("");

  std::printf("stuck: %zu gateways that never answer, then a healthy one owed %d requests, default SENDERS\n", kStuck,
              kOwed);
  QueueFaulty(host, setups, kStuck, *client);
  auto start = Clock::now();
  Queue(Requests(host, setups, healthy, kOwed, true), *client);
  const auto set = WaitFor(host, AtLeast(healthy, 1, kOwed), kCap, start);
  PrintWait("the healthy gateway has its whole set (target 2 s)", set, kCap);
  std::fflush(stdout);

  std::this_thread::sleep_for(500ms);
  const std::uint64_t before = host.Requests()[healthy];
  start = Clock::now();
  Queue(Requests(host, setups, healthy, 1, false, kOwed), *client);
  const auto change = WaitFor(host, AtLeast(healthy, 1, before + 1), kCap, start);
  PrintWait(set ? "a change appended later reaches it" : "a change appended later (its set still owed)", change,
            kCap);
  std::fflush(stdout);
  TimeStop(client);
}

void Endless() {
  constexpr std::size_t kEach = 5;
  constexpr auto kSpan = 30s;  // the second figure of memory, from the first faulty request queued
  std::vector<GatewaySetup> setups;
  for (std::size_t n = 0; n < 2 * kEach; ++n)
    setups.push_back({Address(1, static_cast<int>(n)), {.fault = n < kEach ? Fault::kEndless : Fault::kTrickle}});
  setups.push_back({Address(2, 0), {}});
  const std::size_t healthy = 2 * kEach;
  const GatewayHost host(setups);
  auto client = MakeClient("");

  std::printf("endless: %zu endless chunked answers, %zu trickling a blank line every 2 s, then a healthy gateway\n",
              kEach, kEach);
  const long startKb = StatusKb("VmRSS");
  const auto faultyStart = Clock::now();
  long afterKb = -1;
  {
    const AtTime sample(faultyStart + kSpan, [&] { afterKb = StatusKb("VmRSS"); });
    QueueFaulty(host, setups, 2 * kEach, *client);
    const auto start = Clock::now();
    Queue(Requests(host, setups, healthy, kOwed, true), *client);
    const auto set = WaitFor(host, AtLeast(healthy, 1, kOwed), kCap, start);
    PrintWait("the healthy gateway has its whole set (target 2 s)", set, kCap);
    std::fflush(stdout);
    std::this_thread::sleep_until(faultyStart + kSpan);
  }
  if (afterKb < 0) afterKb = StatusKb("VmRSS");  // the sampler was cancelled as its time came
  std::printf("  %-60s %8.1f MB\n", "resident memory before the faulty answers", Mb(startKb));
  std::printf("  %-60s %8.1f MB (%+.1f MB; target within 20 MB)\n", "resident memory 30 s after they began",
              Mb(afterKb), Mb(afterKb - startKb));
  std::printf("  %-60s %8.1f MB\n", "peak resident memory", Mb(StatusKb("VmHWM")));
  std::fflush(stdout);
  TimeStop(client);
}

void Memory() {
  constexpr int kGateways = 200, kOwedEach = 2002;
  std::vector<GatewaySetup> setups;
  for (int n = 0; n < kGateways; ++n) setups.push_back({Address(1, n), {}});
  const GatewayHost host(setups);
  auto client = MakeClient("");
  std::this_thread::sleep_for(200ms);  // the dispatcher's threads settled
  const long baselineKb = StatusKb("VmRSS");

  // Made straight into the pending list, its lock held, so that everything is queued at once
  // and nothing else is in memory beside it when it is read.
  std::uint64_t bodies = 0;
  const auto making = Clock::now();
  long queuedKb = 0;
  {
    CHttpDataList& pending = GetPendingHttpDataList();
    CNacList::Guard guard(pending);
    for (int n = 0; n < kGateways; ++n) {
      for (auto& request : Requests(host, setups, n, kOwedEach, true, n * kOwedEach)) {
        bodies += request->body.size();
        pending.AddTail(request.release(), guard);
      }
    }
    queuedKb = StatusKb("VmRSS");
  }
  const double made = Seconds(Clock::now() - making);
  const auto start = Clock::now();
  if (!client->EventSend()) Fail("EventSend failed");
  const auto converged = WaitFor(host, AtLeast(0, kGateways, kOwedEach), kMemoryCap, start);

  constexpr double kQueued = static_cast<double>(kGateways) * kOwedEach;
  const double body = static_cast<double>(bodies) / kQueued;
  const long peakKb = StatusKb("VmHWM");
  const auto perRequest = [&](long kb) { return static_cast<double>(kb - baselineKb) * 1024 / kQueued; };
  std::printf("memory: %d gateways answering at once, %d requests each (%.0f queued), default SENDERS\n", kGateways,
              kOwedEach, kQueued);
  PrintWait("every gateway has all its requests", converged, kMemoryCap);
  std::printf("  %-60s %8.3f s\n", "time to make and queue them all", made);
  std::printf("  %-60s %8.1f MB\n", "resident memory before (baseline)", Mb(baselineKb));
  std::printf("  %-60s %8.1f MB (%.0f bytes a request over the baseline)\n", "resident memory, all queued",
              Mb(queuedKb), perRequest(queuedKb));
  std::printf("  %-60s %8.1f MB (%.0f bytes a request over the baseline; target < 300 MB)\n",
              "peak resident memory", Mb(peakKb), perRequest(peakKb));
  std::printf("  %-60s %8.0f bytes\n", "average body", body);
  std::printf("  %-60s %8.0f bytes queued, %.0f at the peak (target <= 400)\n", "beyond its body, per request",
              perRequest(queuedKb) - body, perRequest(peakKb) - body);
  // Once the last answers are read and the queues are gone, their memory goes back.
  for (const auto settled = Clock::now() + 5s; client->Waiting(std::nullopt) > 0 && Clock::now() < settled;) {
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(200ms);
  std::printf("  %-60s %8.1f MB\n", "resident memory afterwards", Mb(StatusKb("VmRSS")));
  std::fflush(stdout);
  TimeStop(client);
}

struct Scenario {
  const char* name;
  void (*run)();
};
constexpr Scenario kScenarios[] = {{"storm", Storm}, {"stuck", Stuck}, {"endless", Endless}, {"memory", Memory}};

// Each in a child of its own: fresh process-wide lists, its own peak memory, and the end of
// whatever an overrun left behind.
void RunApart(const Scenario& scenario) {
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    SetLogThreshold(3);
    scenario.run();
    std::fflush(stdout);
    std::_Exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  (%s ended abnormally)\n", scenario.name);
  std::printf("\n");
}

void PrivateNetwork() {
  if (::geteuid() != 0) {
    std::printf("(not root: on the host's loopback)\n\n");
    return;
  }
  if (::unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0) Fail("no network namespace of its own");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const Scenario*> chosen;
  for (int i = 1; i < argc; ++i) {
    const Scenario* found = nullptr;
    for (const Scenario& scenario : kScenarios)
      if (std::strcmp(argv[i], scenario.name) == 0) found = &scenario;
    if (found == nullptr) {
      std::fprintf(stderr, "usage: %s [storm|stuck|endless|memory]...\n", argv[0]);
      return 2;
    }
    chosen.push_back(found);
  }
  if (chosen.empty())
    for (const Scenario& scenario : kScenarios) chosen.push_back(&scenario);

  // 200 gateways, their connections and the dispatcher's: more than a default soft limit.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  PrivateNetwork();
  for (const Scenario* scenario : chosen) RunApart(*scenario);
  return 0;
}
