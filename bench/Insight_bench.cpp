// How long an administrator waits for "acl status" and for a metrics scrape on a large
// site: 1,000 gateways, each ON with its own network behind it and 2 PCs there, 3
// quarantine servers and a NAC entry for every other PC, every gateway's deliveries
// acknowledged. Medians of 9 runs.

#include <netinet/in.h>
#include <sys/socket.h>
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
#include "delivery/GatewayLedger.h"
#include "insight/AclCommand.h"
#include "insight/MetricsServer.h"
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
constexpr int kRuns = 9;

void Fill() {
  for (int g = 0; g < kGateways; ++g) {
    auto* gateway = new CGwData;
    gateway->addressText = "10.40." + std::to_string(g / 250) + "." + std::to_string(g % 250 + 1);
    Require(ParseIPv4Value(gateway->addressText.c_str(), gateway->address), "address");
    gateway->on = 1;
    auto* route = new CGwrouteData;
    route->device = "eth0";
    route->networkText = "172.20." + std::to_string(g / 4) + "." + std::to_string(g % 4 * 64);
    route->netmaskText = "255.255.255.192";
    Require(ParseIPv4Value(route->networkText.c_str(), route->network), "address");
    Require(ParseIPv4Value(route->netmaskText.c_str(), route->netmask), "address");
    gateway->Routes().AddTail(route, false);
    Require(GetGwDataList().AddUnique(gateway) == 0, "gateway");
  }
  for (int p = 0; p < 2 * kGateways; ++p) {
    const int g = p / 2;
    const std::string source = "172.20." + std::to_string(g / 4) + "." + std::to_string(g % 4 * 64 + 1 + p % 2);
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
  for (int q = 0; q < 3; ++q) {
    auto* server = new CQuarantineData;
    Require(server->SetSource(("172.17.0." + std::to_string(q + 1)).c_str()), "source");
    server->protocol = "tcp";
    Require(server->SetPort("443"), "port");
    Require(GetQuarantineDataList().AddUnique(server) == 0, "server");
  }
  for (const GatewayRules& gateway : GatewayRuleSets()) {
    for (const CHttpData& request : gateway.requests) {
      GetGatewayLedger().Answered(gateway.address, gateway.port, request.body, 200, "ok");
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

double Scrape(std::uint16_t port, std::size_t* bytes) {
  const auto start = Clock::now();
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const char request[] = "GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n";
  ::send(fd.Get(), request, sizeof request - 1, 0);
  *bytes = 0;
  char buffer[65536];
  for (ssize_t got; (got = ::recv(fd.Get(), buffer, sizeof buffer, 0)) > 0;) *bytes += static_cast<std::size_t>(got);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  SetLogThreshold(0);
  Fill();
  std::vector<double> status;
  std::vector<double> scrape;
  std::size_t statusBytes = 0;
  std::size_t scrapeBytes = 0;
  char acl[] = "acl";
  char word[] = "status";
  char* words[] = {acl, word, nullptr};
  MetricsServer server;
  const std::uint16_t port = 18391;
  if (!server.Start(port)) return 1;
  for (int run = 0; run < kRuns; ++run) {
    status.push_back(Timed(AclCommand, words, 2, &statusBytes));
    scrape.push_back(Scrape(port, &scrapeBytes));
  }
  std::printf("%d gateways, each ON with its own route and 2 PCs; 3 servers, %d NAC entries; medians of %d runs\n",
              kGateways, kGateways, kRuns);
  std::printf("%-34s %10s %12s %8s\n", "", "ms", "reply bytes", "aim ms");
  std::printf("%-34s %10.2f %12zu %8d\n", "acl status", Median(status), statusBytes, 50);
  std::printf("%-34s %10.2f %12zu %8d\n", "GET /metrics", Median(scrape), scrapeBytes, 50);
  return 0;
}
