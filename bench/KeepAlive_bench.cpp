// Keep-alive at fleet scale, in a network namespace of the benchmark's own (run as root):
// 10,000 gateways, 9,000 on loopback addresses that answer and 1,000 routed to a neighbour
// that is not there, so that their requests vanish. A second process watches from outside:
// it reads every echo request on the wire (kernel time stamps) for the gaps between two
// probes of an answering gateway, silences a handful of answering gateways partway through
// and reads the log for their OFF lines. The keep-alive's own process prints the CPU it
// used in each interval of 10 s, and how long its stop took with probes out.

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/Require.h"
#include "keepalive/NacKeepAlive.h"
#include "platform/Thread.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "support/Syslog.h"

namespace {

constexpr int kAnswering = 9000;
constexpr int kSilent = 1000;
// Answering gateways that go silent, one a second from this many seconds on.
constexpr int kGoingSilent = 5;
constexpr double kSilenceFrom = 20;
// Gaps are counted once the first round, which paces 10,000 probes, is well over.
constexpr double kWarmUp = 15;
constexpr double kRunAtLeast = 70;
constexpr double kRunAtMost = 100;

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// Loopback up (every 127.x.y.z answers), and 10.10.0.0/16 routed out of a veth pair to a
// neighbour that is not there. An answering gateway is silenced by a route of its own in
// the local table that sends its requests the same way.
void PrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "bench: needs root for a network namespace of its own\n");
    std::exit(1);
  }
  Shell("ip link set lo up");
  Shell("ip link add velnor0 type veth peer name velnor1");
  Shell("ip addr add 10.9.0.1/24 dev velnor0 && ip link set velnor0 up && ip link set velnor1 up");
  Shell("ip neigh replace 10.9.0.254 lladdr 02:00:00:00:00:fe dev velnor0 nud permanent");
  Shell("ip route replace 10.10.0.0/16 via 10.9.0.254");
}

std::string Host(const std::string& prefix, int i) {
  return prefix + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

void Register() {
  for (int i = 0; i < kAnswering + kSilent; ++i) {
    const std::string address = i < kAnswering ? Host("127.1.", i) : Host("10.10.", i - kAnswering);
    auto* gateway = new CGwData();
    gateway->addressText = address;
    gateway->address = ::inet_addr(address.c_str());
    Require(GetGwDataList().AddUnique(gateway) == 0, "gateway");
  }
}

double RealSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The kernel's receive time of the message, or now.
double Stamp(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec at;
      std::memcpy(&at, CMSG_DATA(c), sizeof at);
      return static_cast<double>(at.tv_sec) + static_cast<double>(at.tv_nsec) / 1e9;
    }
  }
  return RealSeconds();
}

int StampedSocket(int type, int protocol) {
  const int fd = ::socket(AF_INET, type, protocol);
  Require(fd >= 0, "observer socket");
  const int on = 1;
  const int buffer = 8 << 20;
  Require(::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0, "time stamps");
  Require(::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) == 0, "receive buffer");
  return fd;
}

double Percentile(const std::vector<double>& sorted, double p) {
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

// The observer: a process of its own, so that its work is not counted as the keep-alive's.
void Observe(int ready) {
  const int wire = StampedSocket(SOCK_RAW, IPPROTO_ICMP);
  icmp_filter requestsOnly{~(1u << ICMP_ECHO)};
  Require(::setsockopt(wire, SOL_RAW, ICMP_FILTER, &requestsOnly, sizeof requestsOnly) == 0, "filter");
  const int log = StampedSocket(SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(514);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Require(::bind(log, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0, "log collector");
  Require(::write(ready, "r", 1) == 1, "ready");

  const double start = RealSeconds();
  std::unordered_map<std::uint32_t, double> lastSeen;
  std::vector<double> gaps;
  std::map<std::string, double> silencedAt;
  std::map<std::string, double> offAt;
  std::uint64_t requests = 0;
  int silenced = 0;
  std::uint8_t packet[2048];
  alignas(cmsghdr) std::uint8_t control[256];
  for (;;) {
    const double now = RealSeconds() - start;
    if (now >= kRunAtMost || (now >= kRunAtLeast && offAt.size() == kGoingSilent)) break;
    if (silenced < kGoingSilent && now >= kSilenceFrom + silenced) {
      const std::string address = Host("127.1.", 100 + 1700 * silenced);
      silencedAt[address] = RealSeconds();
      Shell("ip route add " + address + "/32 via 10.9.0.254 dev velnor0 table local");
      ++silenced;
    }
    pollfd fds[] = {{wire, POLLIN, 0}, {log, POLLIN, 0}};
    if (::poll(fds, 2, 50) <= 0) continue;
    for (int which = 0; which < 2; ++which) {
      if (fds[which].revents == 0) continue;
      for (;;) {
        iovec vector{packet, sizeof packet - 1};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(fds[which].fd, &message, MSG_DONTWAIT);
        if (received <= 0) break;
        const double stamp = Stamp(message);
        if (which == 1) {
          packet[received] = 0;
          const char* text = reinterpret_cast<const char*>(packet);
          const char* gw = std::strstr(text, "GW(");
          if (gw != nullptr && std::strstr(text, "diagnosed as OFF") != nullptr) {
            const std::string address(gw + 3, std::strchr(gw, ')'));
            if (silencedAt.contains(address) && !offAt.contains(address)) offAt[address] = stamp;
          }
          continue;
        }
        if (received < 20) continue;
        std::uint32_t destination;
        std::memcpy(&destination, packet + 16, sizeof destination);
        ++requests;
        auto [seen, first] = lastSeen.try_emplace(destination, stamp);
        if (!first) {
          if (stamp - start >= kWarmUp) gaps.push_back(stamp - seen->second);
          seen->second = stamp;
        }
      }
    }
  }

  std::sort(gaps.begin(), gaps.end());
  std::printf("keep-alive, %d gateways: %d answering, %d silent; interval 10 s, answer window 1 s\n",
              kAnswering + kSilent, kAnswering, kSilent);
  std::printf("run %.0f s; echo requests to answering gateways seen on the wire: %llu\n", RealSeconds() - start,
              static_cast<unsigned long long>(requests));
  if (!gaps.empty()) {
    const auto within = std::count_if(gaps.begin(), gaps.end(), [](double gap) { return std::abs(gap - 10) <= 0.1; });
    std::printf("gaps between probes of answering gateways, after the first %.0f s: %zu\n", kWarmUp, gaps.size());
    std::printf("  min %.3f s  median %.3f s  p99 %.3f s  max %.3f s  (within 10 s +- 0.1 s: %.2f%%)\n", gaps.front(),
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), gaps.back(),
                100.0 * static_cast<double>(within) / static_cast<double>(gaps.size()));
  }
  std::printf("from going silent to the OFF line (target 30 to 41 s):\n");
  for (const auto& [address, at] : silencedAt) {
    const auto off = offAt.find(address);
    if (off == offAt.end()) {
      std::printf("  GW(%s): no OFF line\n", address.c_str());
    } else {
      std::printf("  GW(%s): %.2f s\n", address.c_str(), off->second - at);
    }
  }
  std::fflush(stdout);
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::size_t ProbesOut() {
  CNacList::Guard guard(GetGwDataList());
  std::size_t out = 0;
  for (CNacNode* node = GetGwDataList().GetHead(guard); node != nullptr; node = GetGwDataList().GetNext(node, guard)) {
    out += node->RecordAs<CGwData>()->probeOutstanding != 0 ? 1 : 0;
  }
  return out;
}

}  // namespace

int main() {
  PrivateNetwork();
  char directory[] = "/tmp/velnor-keepalive-bench-XXXXXX";
  Require(::mkdtemp(directory) != nullptr && ::chdir(directory) == 0, "a directory of its own");
  SetLogThreshold(4);  // the OFF lines, but not a trace line per probe
  Register();

  int ready[2];
  Require(::pipe(ready) == 0, "pipe");
  std::fflush(stdout);
  const pid_t observer = ::fork();
  Require(observer >= 0, "fork");
  if (observer == 0) {
    ::close(ready[0]);
    Observe(ready[1]);
    std::_Exit(0);
  }
  ::close(ready[1]);
  char byte;
  Require(::read(ready[0], &byte, 1) == 1, "observer ready");

  // The owner of the keep-alive: takes its ON and OFF reports and does nothing with them.
  std::uint32_t ownerId = 0;
  std::atomic<bool> ownerReady{false};
  platform::Thread owner([&] {
    platform::MessageQueue queue;
    ownerId = platform::CurrentThreadId();
    ownerReady = true;
    platform::ThreadMessage message;
    while (queue.TakeMessage(message)) {
    }
  });
  while (!ownerReady) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  auto keepAlive = std::make_unique<CNacKeepAlive>();
  keepAlive->SaveThreadID(ownerId);
  Require(keepAlive->StartTimer() == 0, "timer thread");

  std::vector<double> cpu;
  double windowStart = CpuSeconds();
  auto windowEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(observer, &status, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::chrono::steady_clock::now() < windowEnd) continue;
    const double used = CpuSeconds();
    cpu.push_back(used - windowStart);
    windowStart = used;
    windowEnd += std::chrono::seconds(10);
  }

  // Stopped with probes of silent gateways out, which are sent close together each round.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(12);
  while (ProbesOut() < kSilent / 2 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::size_t out = ProbesOut();
  const auto stopStart = std::chrono::steady_clock::now();
  keepAlive.reset();
  const double stopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopStart).count();
  Require(platform::PostToThread(ownerId, platform::kQuitMessage, 0, 0), "owner stop");
  owner.Join();

  std::printf("CPU of the keep-alive per 10 s (target under 5%% of one core):");
  for (std::size_t i = 0; i < cpu.size(); ++i) std::printf("%s %.2f%%", i == 0 ? "" : ",", cpu[i] * 10);
  std::printf("\n  (the first interval holds the first round of all 10,000 probes)\n");
  if (cpu.size() > 1) {
    std::vector<double> rest(cpu.begin() + 1, cpu.end());
    std::sort(rest.begin(), rest.end());
    std::printf("  after the first: median %.2f%%, max %.2f%%\n", Percentile(rest, 0.5) * 10, rest.back() * 10);
  }
  std::printf("probes sent %llu, answered %llu\n", static_cast<unsigned long long>(GetMetrics().probesSent.load()),
              static_cast<unsigned long long>(GetMetrics().probesAnswered.load()));
  std::printf("stop with %zu probes out: %.1f ms\n", out, stopMs);
  GetGwDataList().RemoveAll(false);
  ::rmdir(directory);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
