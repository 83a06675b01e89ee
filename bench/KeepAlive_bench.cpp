// Keep-alive rounds in a network namespace of the benchmark's own (run as root): how long
// the five probers take to probe 1,000 gateways that answer, how long one gateway that
// drops echo requests holds a prober, and how long a round of 50 such gateways takes. The
// interval between two probes of a gateway is 10 seconds; a round must fit in it.

#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/Require.h"
#include "keepalive/IcmpPing.h"
#include "keepalive/NacKeepAlive.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Syslog.h"

namespace {

using Clock = std::chrono::steady_clock;

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// Loopback up (every 127.x.y.z answers), and 10.10.0.0/16 routed out of a veth pair to a
// neighbour that is not there: requests to it vanish, nothing comes back.
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

void Register(const std::vector<std::string>& addresses) {
  GetGwDataList().RemoveAll(false);
  for (const std::string& address : addresses) {
    auto* gateway = new CGwData();
    gateway->addressText = address;
    gateway->address = ::inet_addr(address.c_str());
    Require(GetGwDataList().AddUnique(gateway) == 0, "gateway");
  }
}

// Marks the gateways whose first probe is over; true when all are. A gateway becomes due
// again 10 s after it was scheduled, so "all done at once" may never be seen.
bool AllProbed(std::vector<bool>& done) {
  CGwDataList& gateways = GetGwDataList();
  CNacList::Guard guard(gateways);
  std::size_t index = 0;
  bool all = true;
  for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
    const CGwData& gateway = *node->RecordAs<CGwData>();
    if (index >= done.size()) done.push_back(false);
    if (gateway.lastProbeTime != 0 && gateway.probeOutstanding == 0) done[index] = true;
    all = all && done[index];
    ++index;
  }
  return all;
}

// Seconds from the scheduler's start until every registered gateway has been probed once.
double Round() {
  const auto start = Clock::now();
  CNacKeepAlive keepAlive;
  keepAlive.StartTimer();
  std::vector<bool> done;
  while (!AllProbed(done)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> Hosts(const std::string& prefix, int count) {
  std::vector<std::string> hosts;
  for (int i = 0; i < count; ++i) hosts.push_back(prefix + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
  return hosts;
}

}  // namespace

int main() {
  PrivateNetwork();
  SetLogThreshold(0);  // no log traffic on the loopback the probers listen to

  Register(Hosts("127.1.", 1000));
  const double answering = Round();

  const auto silentStart = Clock::now();
  const int silentResult = RawPing(::inet_addr("10.10.0.1"), 1);
  const double silentHold = std::chrono::duration<double>(Clock::now() - silentStart).count();

  Register(Hosts("10.10.", 50));
  const double silentRound = Round();
  GetGwDataList().RemoveAll(false);

  std::printf("keep-alive rounds, five probers, 10 s between two probes of a gateway\n");
  std::printf("%-46s %8.3f s (%.1f%% of the interval)\n", "1,000 answering gateways, first round", answering,
              answering * 10);
  std::printf("%-46s %8.3f s (answered: %s)\n", "one silent gateway holds its prober", silentHold,
              silentResult == 0 ? "yes" : "no");
  std::printf("%-46s %8.3f s (%.1f%% of the interval)\n", "50 silent gateways, first round", silentRound,
              silentRound * 10);
  std::printf("silent gateways one interval absorbs: 5 probers x 10 s / %.2f s = %.0f\n", silentHold,
              5 * 10 / silentHold);
  return 0;
}
