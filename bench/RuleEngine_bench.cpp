// The reset of one gateway that comes back ON at a large site: how long the service's walk
// takes to fill the pending request list, how many requests it makes and what each costs,
// at 2,000 and 4,000 PCs; twice the requests should cost at most 2.2 times the time. Beside
// it, on a smaller site, the plain walks that snapshot every level and try every record,
// and the service's walk on the same site, so that the gain of its lookups shows. Every
// figure is the median of several runs.

#include <arpa/inet.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "acl/AclContext.h"
#include "acl/AclEmitter.h"
#include "acl/CollectingEmitter.h"
#include "acl/KeepAliveReset.h"
#include "bench/Require.h"
#include "list/NacNode.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"
#include "bench/PlainReset.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kGateway = "10.0.0.1";
constexpr int kRoutes = 4;
constexpr int kServers = 5;
constexpr double kScalingAim = 2.2;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "RuleEngine_bench: %s\n", what.c_str());
  std::exit(1);
}

std::string Dotted(unsigned a, unsigned b, unsigned c, unsigned d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}
std::string Mac(unsigned group, unsigned n) {
  char text[24];
  std::snprintf(text, sizeof text, "02:00:00:%02X:%02X:%02X", group & 0xff, (n >> 8) & 0xff, n & 0xff);
  return text;
}

template <class Record, class List>
void Store(List& registry, Record* record) {
  if (registry.AddUnique(record) != 0) {
    delete record;
    Fail("a generated record was refused as a duplicate");
  }
}

// One gateway, ON, with routes 10.1.0.0/16 to 10.4.0.0/16 (eth1 to eth4) and five quarantine
// servers. PC i by i mod 20: 0 known by its MAC alone (behind every route), 1 and 2 a /24
// network inside a route, 3 to 6 outside every route, the rest a MAC and an address inside
// one route. Entry j by j mod 10: 0 to 7 the address of one PC inside a route, 8 the MAC of
// a PC known by MAC alone, 9 an address of no PC.
void BuildSite(int pcs, int entries) {
  GetNacDataList().RemoveAll(false);
  GetPcDataList().RemoveAll(false);
  GetQuarantineDataList().RemoveAll(false);
  GetGwDataList().RemoveAll(false);
  GetPendingHttpDataList().RemoveAll(false);

  auto* gateway = new CGwData();
  gateway->addressText = kGateway;
  gateway->address = ::inet_addr(kGateway);
  gateway->on = 1;
  for (int r = 0; r < kRoutes; ++r) {
    auto* route = new CGwrouteData();
    route->device = "eth" + std::to_string(r + 1);
    route->networkText = Dotted(10, static_cast<unsigned>(r + 1), 0, 0);
    route->network = ::inet_addr(route->networkText.c_str());
    route->netmaskText = "255.255.0.0";
    route->netmask = ::inet_addr(route->netmaskText.c_str());
    Store(gateway->Routes(), route);
  }
  Store(GetGwDataList(), gateway);

  for (int s = 0; s < kServers; ++s) {
    auto* server = new CQuarantineData();
    Require(server->SetSource(Dotted(172, 17, 0, static_cast<unsigned>(s + 1)).c_str()), "source");
    server->protocol = s % 2 == 0 ? "tcp" : "udp";
    Require(server->SetPort(std::to_string(4200 + s).c_str()), "port");
    Store(GetQuarantineDataList(), server);
  }

  std::vector<std::string> insideSources;
  std::vector<std::string> macOnly;
  for (int i = 0; i < pcs; ++i) {
    const auto n = static_cast<unsigned>(i);
    const unsigned route = 1 + n % kRoutes;
    auto* pc = new CPcData();
    switch (i % 20) {
      case 0:
        Require(pc->SetMac(Mac(1, n).c_str()), "mac");
        macOnly.push_back(pc->macText);
        break;
      case 1:
      case 2: {
        // The routes take the networks in turn; each a third octet of its own from 128 on.
        const std::string network = Dotted(10, 1 + (n / 20) % kRoutes, 128 + 2 * (n / 20 / kRoutes) + n % 20 - 1, 0);
        Require(pc->SetNetwork(network.c_str()), "network");
        Require(pc->SetNetmask("255.255.255.0"), "netmask");
        break;
      }
      case 3:
      case 4:
      case 5:
      case 6:
        Require(pc->SetMac(Mac(2, n).c_str()), "mac");
        Require(pc->SetSource(Dotted(172, 20, n / 250, n % 250 + 1).c_str()), "source");
        break;
      default:
        Require(pc->SetMac(Mac(3, n).c_str()), "mac");
        Require(pc->SetSource(Dotted(10, route, (n / kRoutes) / 250, (n / kRoutes) % 250 + 1).c_str()), "source");
        insideSources.push_back(pc->sourceText);
        break;
    }
    Store(GetPcDataList(), pc);
  }

  for (int j = 0; j < entries; ++j) {
    const auto n = static_cast<unsigned>(j);
    auto* entry = new CNacData();
    entry->target = j % 2 == 0 ? CNacData::kAccept : CNacData::kDrop;
    if (j % 10 < 8) {
      Require(entry->SetSource(insideSources[n % insideSources.size()].c_str()), "source");
    } else if (j % 10 == 8) {
      Require(entry->SetSource(Dotted(10, 99, n / 250, n % 250 + 1).c_str()), "source");
      Require(entry->SetMac(macOnly[n % macOnly.size()].c_str()), "mac");
    } else {
      Require(entry->SetSource(Dotted(100, 64, n / 250, n % 250 + 1).c_str()), "source");
    }
    Store(GetNacDataList(), entry);
  }
}

// Makes the gateway wait for its reset again, as an OFF-to-ON report does.
void ResetPending() {
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
    node->RecordAs<CGwData>()->resetPending = 1;
  }
}

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Wall and CPU time of this thread; the CPU time is what other work on a shared machine
// does not inflate.
struct Timing {
  double wallMs = 0;
  double cpuMs = 0;
};

Timing Time(const std::function<void()>& body) {
  const double cpu = ThreadCpuMs();
  const auto start = Clock::now();
  body();
  return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), ThreadCpuMs() - cpu};
}

Timing Median(std::vector<Timing> runs) {
  std::vector<double> wall, cpu;
  for (const Timing& run : runs) {
    wall.push_back(run.wallMs);
    cpu.push_back(run.cpuMs);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

const std::atomic<int> kRunning{0};
const AclContext kNoDispatcher{kRunning, nullptr};

struct Measured {
  Timing time;
  std::size_t requests = 0;
};

// The service's reset into the pending request list, which is emptied outside the timing.
Measured ServiceReset(int runs) {
  Measured measured;
  std::vector<Timing> timings;
  const std::uint32_t address = ::inet_addr(kGateway);
  for (int run = 0; run < runs; ++run) {
    ResetPending();
    timings.push_back(Time([&] { KeepAliveResetSearch(kNoDispatcher, address); }));
    const auto count = static_cast<std::size_t>(GetPendingHttpDataList().GetCount(false));
    if (run > 0 && count != measured.requests) Fail("two runs of the same reset made different requests");
    measured.requests = count;
    GetPendingHttpDataList().RemoveAll(false);
  }
  if (measured.requests <= 2) Fail("the reset made no rules");
  measured.time = Median(timings);
  return measured;
}

// One reset walk into a collecting emitter, timed; the bodies of its requests in walkBodies.
Measured CollectedReset(int runs, const std::function<void(AclEmitter&)>& walk, std::vector<std::string>& walkBodies) {
  std::vector<Timing> timings;
  for (int run = 0; run < runs; ++run) {
    ResetPending();
    std::vector<CHttpData> requests;
    CollectingEmitter emitter(requests);
    timings.push_back(Time([&] { walk(emitter); }));
    walkBodies.clear();
    for (const CHttpData& request : requests) walkBodies.push_back(request.body);
  }
  return {Median(timings), walkBodies.size()};
}

double PerRequestUs(const Measured& m) { return m.time.cpuMs * 1e3 / static_cast<double>(m.requests); }

}  // namespace

int main() {
  SetLogThreshold(0);
  const std::uint32_t address = ::inet_addr(kGateway);

  struct Site {
    int pcs, entries, runs;
  };
  const Site sites[] = {{2000, 500, 9}, {4000, 1000, 7}, {4000, 500, 7}};
  std::vector<Measured> results;
  std::printf("Reset of one gateway that comes back ON: %d routes, %d quarantine servers, into the pending list\n",
              kRoutes, kServers);
  std::printf("%6s %8s %9s %10s %9s %12s\n", "PCs", "entries", "requests", "wall ms", "CPU ms", "CPU us/req");
  for (const Site& site : sites) {
    BuildSite(site.pcs, site.entries);
    const Measured m = ServiceReset(site.runs);
    results.push_back(m);
    std::printf("%6d %8d %9zu %10.1f %9.1f %12.3f\n", site.pcs, site.entries, m.requests, m.time.wallMs, m.time.cpuMs,
                PerRequestUs(m));
  }
  const Measured& base = results[0];
  const Measured& twice = results[1];
  const double requestRatio = static_cast<double>(twice.requests) / static_cast<double>(base.requests);
  std::printf(
      "2,000 to 4,000 PCs with their entries: %.2f times the requests cost %.2f times the CPU time "
      "(%.2f wall); aim at most %.1f\n",
      requestRatio, twice.time.cpuMs / base.time.cpuMs, twice.time.wallMs / base.time.wallMs, kScalingAim);

  BuildSite(200, 50);
  std::vector<std::string> plainBodies, serviceBodies;
  const Measured plain = CollectedReset(
      5, [&](AclEmitter& e) { plain_reset::ResetSearch(e, address); }, plainBodies);
  const Measured service = CollectedReset(
      9, [&](AclEmitter& e) { KeepAliveResetSearch(kNoDispatcher, address, e); }, serviceBodies);
  if (plainBodies != serviceBodies) Fail("the plain walks and the service's made different requests");
  std::printf("\nThe same reset into a list, 200 PCs and 50 entries: %zu requests\n", service.requests);
  std::printf("%-16s %10s %9s %12s\n", "walk", "wall ms", "CPU ms", "CPU us/req");
  for (const auto& [name, m] : {std::pair{"plain walks", &plain}, std::pair{"service", &service}}) {
    std::printf("%-16s %10.2f %9.2f %12.3f\n", name, m->time.wallMs, m->time.cpuMs, PerRequestUs(*m));
  }
  std::printf("gain: %.1f times less CPU time\n", plain.time.cpuMs / service.time.cpuMs);

  GetNacDataList().RemoveAll(false);
  GetPcDataList().RemoveAll(false);
  GetQuarantineDataList().RemoveAll(false);
  GetGwDataList().RemoveAll(false);
  return 0;
}
