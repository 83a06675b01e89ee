#include "command/GwrouteCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "command/CommandHandler.h"
#include "tests/command/CommandHarness.h"

namespace {

const char kAddUsage[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute add TARGET network NW [netmask NM] [dev IF]\r\n\r\n"
    "Examples:\r\n  gwroute add 172.16.0.1 network 192.168.0.0\r\n...";
const char kUsageStart[] =
    "gwroute: invalid option\r\n\r\nUsage: gwroute OPERATION [TARGET] [network NW] [netmask NM] [dev IF]\r\n...";

// The routes of every gateway as "gw device network/netmask", marked as Dump marks records.
std::string Routes() {
  std::string out;
  CGwDataList& gateways = GetGwDataList();
  for (CNacNode* n = gateways.GetHead(false); n != nullptr; n = gateways.GetNext(n, false)) {
    CGwData& g = *n->RecordAs<CGwData>();
    out += testing_support::Dump<CGwrouteData>(g.Routes(), [&](const CGwrouteData& r) {
      return g.addressText + " " + r.device + " " + r.networkText + "/" + r.netmaskText;
    });
  }
  return out;
}

// Routes() of the routes the add steps below make, in order, each live (l) or withdrawn (d).
std::string Expect(const std::string& marks) {
  static const char* const kRoutes[] = {"172.16.0.1  192.168.0.0/255.255.0.0+;",
                                        "172.16.0.1 eth0 192.168.0.0/255.255.255.0+;",
                                        "172.16.0.1  172.20.0.0/255.255.0.0+;"};
  std::string out;
  for (std::size_t i = 0; i < marks.size(); ++i) out += (marks[i] == 'd' ? "-" : "") + std::string(kRoutes[i]);
  return out;
}

// The gateway is found by its address whatever its port.
class GwrouteCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommandLine("gw add 172.16.0.1 sport 8080").result, 1);
    ASSERT_EQ(RunCommandLine("gwroute add 172.16.0.1 network 192.168.0.0 netmask 255.255.0.0").result, 1);
  }
};

// Which routes a key finds is the route registry's rule; here what the console reads from its words.
TEST_F(GwrouteCommandTest, AddAndDelReadTheirWords) {
  RunSteps({{"gwroute add 172.16.0.1 network 192.168.0.0 netmask 255.255.255.0", 0, "duplication of data\r\n",
             Expect("l")},
            {"gwroute add 172.16.0.1 n 192.168.0.0 d eth0", 1, "", Expect("ll")},
            {"gwroute add 172.16.0.1  network 172.20.0.0", 1, "", Expect("lll")},
            {"gwroute del 172.16.0.1 network 192.168.0.0 dev eth0", 2, "", Expect("ldl")},
            {"gwroute del 172.16.0.1 network 172.20.0.0", 2, "", Expect("ldd")}},
           Routes);
}

TEST_F(GwrouteCommandTest, RefusalsChangeNothing) {
  const std::string before = Routes(), notRegistered = "TARGET is not registered.\r\n";
  std::vector<Step> steps = {{"gwroute add 172.16.0.9 network 10.0.0.0", 0, notRegistered, before},
                             {"gwroute del 172.16.0.9 network 192.168.0.0", 0, notRegistered, before},
                             {"gwroute sh", 0, kUsageStart, before},
                             {"gwroute a 172.16.0.1 network 10.0.0.0", 0, kUsageStart, before},
                             {"gwroute add 172.16.0.1 network", 0, kAddUsage, before}};
  for (const char* line : {"gwroute add 172.16.0.1 network 250.0.0.0",
                           "gwroute add 172.16.0.1 netmask 255.255.0.0 dev eth0",
                           "gwroute add 172.16.0.1 network 10.0.0.0 netmask 255.0.255.0",
                           "gwroute add gw1 network 10.0.0.0", "gwroute add 172.16.0.1 network 10.0.0.0 dev e,th0",
                           "gwroute add 172.16.0.1 network 10.0.0.0 dev \"eth0\""}) {
    steps.push_back({line, 0, kAddUsage, before});
  }
  for (const char* line : {"gwroute del 172.16.0.1 network", "gwroute del 172.16.0.1 network 192.168.0.0 dev"}) {
    steps.push_back({line, 0, "gwroute: invalid option\r\n\r\nUsage: gwroute del TARGET...", before});
  }
  RunSteps(steps, [] { return Routes() + (std::filesystem::is_empty(".") ? "" : " and a file"); });
  EXPECT_EQ(RunCommandLine("gwroute add 172.16.0.1 network").reply,
            "gwroute: invalid option\r\n\r\nUsage: gwroute add TARGET network NW [netmask NM] [dev IF]\r\n\r\n"
            "Examples:\r\n  gwroute add 172.16.0.1 network 192.168.0.0\r\n");
}

// A column shorter than 8 characters takes two TABs; routes of withdrawn gateways are not listed.
TEST_F(GwrouteCommandTest, ShowLinesUpColumns) {
  for (const char* line : {"gwroute add 172.16.0.1 network 10.0.0.0 dev eth0",
                           "gwroute add 172.16.0.1 network 192.168.100.0 dev wan-\xe2\x82\xac.100:1", "gw add 10.0.0.1",
                           "gwroute add 10.0.0.1 network 10.9.0.0", "gw del 10.0.0.1"}) {
    ASSERT_GT(RunCommandLine(line).result, 0) << line;
  }
  const std::string listing =
      "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n172.16.0.1\t\t\t192.168.0.0\t255.255.0.0\r\n"
      "172.16.0.1\teth0\t\t10.0.0.0\t255.0.0.0\r\n172.16.0.1\twan-\xe2\x82\xac.100:1\t192.168.100.0\t255.255.255.0\r\n";
  for (const char* show : {"gwroute", "gwroute show all"}) {
    EXPECT_EQ(RunCommandLine(show), (CommandRun{0, listing})) << show;
  }
}

}  // namespace
