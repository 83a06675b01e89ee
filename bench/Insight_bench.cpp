// How long an administrator waits for "acl status", a metrics scrape and the status page on
// a large site: 1,000 gateways, then 10,000, each ON with its own network behind it and 2
// PCs there, 3 quarantine servers and a NAC entry for every other PC, every gateway's
// deliveries acknowledged but for one gateway in a hundred, whose last rule was refused
// and which is OFF. Medians of 9 runs; the page's first build is shown too, since the
// first look after a change finds nothing warm.

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "acl/GatewayRuleSet.h"
#include "bench/Require.h"
#include "command/CommandHandler.h"
#include "command/RegistryGeneration.h"
#include "delivery/GatewayLedger.h"
#include "insight/AclCommand.h"
#include "insight/MetricsServer.h"
#include "insight/StatusPage.h"
#include "platform/UniqueFd.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGateways = 1000;
constexpr int kManyGateways = 10000;
constexpr int kRuns = 9;

void AddServers() {
  for (int q = 0; q < 3; ++q) {
    auto* server = new CQuarantineData;
    Require(server->SetSource(("172.17.0." + std::to_string(q + 1)).c_str()), "source");
    server->protocol = "tcp";
    Require(server->SetPort("443"), "port");
    Require(GetQuarantineDataList().AddUnique(server) == 0, "server");
  }
}

// The network behind gateway g, as "172.a.b.": a /26 of its own.
std::string Network(int g) {
  return "172." + std::to_string(20 + g / 1024) + "." + std::to_string(g / 4 % 256) + ".";
}

// Gateways from up to to, their PCs and NAC entries, and what each acknowledged.
void Fill(int from, int to) {
  for (int g = from; g < to; ++g) {
    auto* gateway = new CGwData;
    gateway->addressText = "10.40." + std::to_string(g / 250) + "." + std::to_string(g % 250 + 1);
    Require(ParseIPv4Value(gateway->addressText.c_str(), gateway->address), "address");
    gateway->on = g % 100 == 99 ? 0 : 1;
    auto* route = new CGwrouteData;
    route->device = "eth0";
    route->networkText = Network(g) + std::to_string(g % 4 * 64);
    route->netmaskText = "255.255.255.192";
    Require(ParseIPv4Value(route->networkText.c_str(), route->network), "address");
    Require(ParseIPv4Value(route->netmaskText.c_str(), route->netmask), "address");
    gateway->Routes().AddTail(route, false);
    Require(GetGwDataList().AddUnique(gateway) == 0, "gateway");
  }
  for (int p = 2 * from; p < 2 * to; ++p) {
    const int g = p / 2;
    const std::string source = Network(g) + std::to_string(g % 4 * 64 + 1 + p % 2);
    auto* pc = new CPcData;
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", p / 256, p % 256);
    Require(pc->SetMac(mac), "mac");
    Require(pc->SetSource(source.c_str()), "source");
    Require(GetPcDataList().AddUnique(pc) == 0, "pc");
    if (p % 2 == 0) {
      auto* entry = new CNacData;
      entry->target = CNacData::kAccept;
      Require(entry->SetSource(source.c_str()), "source");
      Require(GetNacDataList().AddUnique(entry) == 0, "entry");
    }
  }
  const std::vector<GatewayRules> fleet = GatewayRuleSets();
  for (int g = from; g < to; ++g) {
    const GatewayRules& gateway = fleet[static_cast<std::size_t>(g)];
    for (const CHttpData& request : gateway.requests) {
      const bool refused = g % 100 == 99 && &request == &gateway.requests.back();
      GetGatewayLedger().Answered(gateway.address, gateway.port, request.body, 200, refused ? "invalid acl" : "ok");
    }
  }
}

// Runs what over a socket pair, reading the reply away; gives the milliseconds it took.
double Timed(CommandHandler handler, char** words, int wordCount, std::size_t* replyBytes) {
  int pair[2];
  ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
  std::size_t bytes = 0;
  std::thread reader([&] {
    char buffer[65536];
    for (ssize_t got; (got = ::read(pair[1], buffer, sizeof buffer)) > 0;) bytes += static_cast<std::size_t>(got);
  });
  const auto start = Clock::now();
  handler(pair[0], wordCount, words);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  ::close(pair[0]);
  reader.join();
  ::close(pair[1]);
  *replyBytes = bytes;
  return ms;
}

double Fetch(std::uint16_t port, const char* target, std::size_t* bytes) {
  const auto start = Clock::now();
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const std::string request = std::string("GET ") + target + " HTTP/1.1\r\nHost: bench\r\n\r\n";
  ::send(fd.Get(), request.data(), request.size(), 0);
  *bytes = 0;
  char buffer[65536];
  for (ssize_t got; (got = ::recv(fd.Get(), buffer, sizeof buffer, 0)) > 0;) *bytes += static_cast<std::size_t>(got);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Row(const char* what, double ms, std::size_t bytes, double cpuMs = -1) {
  std::printf("%-34s %10.2f %12zu %8d", what, ms, bytes, 50);
  if (cpuMs >= 0) std::printf(" %8.2f", cpuMs);
  std::printf("\n");
}

// This thread's CPU time: what a build costs when other work shares the cores.
double ThreadCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The status page's build: wall and CPU milliseconds, and its size.
struct Build {
  double ms;
  double cpuMs;
  std::size_t bytes;
};
Build BuildPage() {
  const double cpu = ThreadCpuMs();
  const auto start = Clock::now();
  const std::size_t bytes = StatusPage().size();
  return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), ThreadCpuMs() - cpu, bytes};
}

// Medians of what each gateway count costs.
void Measure(int gateways, std::uint16_t port) {
  char acl[] = "acl";
  char word[] = "status";
  char* words[] = {acl, word, nullptr};
  std::vector<double> status, scrape, build, buildCpu, changed, changedCpu, fetch;
  std::size_t statusBytes = 0, scrapeBytes = 0, pageBytes = 0, fetchBytes = 0;
  for (int run = 0; run < kRuns; ++run) {
    // As after an operator's change: what each gateway should hold is computed anew.
    RegistriesChanged();
    const Build afterChange = BuildPage();
    changed.push_back(afterChange.ms);
    changedCpu.push_back(afterChange.cpuMs);
    // The page's next reload, nothing changed meanwhile.
    const Build page = BuildPage();
    build.push_back(page.ms);
    buildCpu.push_back(page.cpuMs);
    pageBytes = page.bytes;
    fetch.push_back(Fetch(port, "/", &fetchBytes));
    status.push_back(Timed(AclCommand, words, 2, &statusBytes));
    scrape.push_back(Fetch(port, "/metrics", &scrapeBytes));
  }
  std::printf("\n%d gateways, %d ON, each with its own route and 2 PCs; 3 servers, %d NAC entries\n", gateways,
              gateways - gateways / 100, gateways);
  std::printf("%-34s %10s %12s %8s %8s\n", "", "ms", "reply bytes", "aim ms", "cpu ms");
  Row("acl status", Median(status), statusBytes);
  Row("GET /metrics", Median(scrape), scrapeBytes);
  Row("status page built, after a change", Median(changed), pageBytes, Median(changedCpu));
  Row("status page built, nothing changed", Median(build), pageBytes, Median(buildCpu));
  Row("GET /", Median(fetch), fetchBytes);
}

}  // namespace

int main() {
  SetLogThreshold(0);
  AddServers();
  Fill(0, kGateways);
  RegistriesChanged();
  MetricsServer server;
  const std::uint16_t port = 18391;
  if (!server.Start(port)) return 1;
  std::printf("medians of %d runs\n", kRuns);
  Measure(kGateways, port);
  Fill(kGateways, kManyGateways);
  RegistriesChanged();
  // The first build after the registries grew: nothing of an earlier build is warm.
  const Build first = BuildPage();
  Measure(kManyGateways, port);
  Row("status page, first build", first.ms, first.bytes, first.cpuMs);
  return 0;
}
