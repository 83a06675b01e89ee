#include "registry/GwrouteFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/Syslog.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

std::uint32_t Ip(const char* text) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(text, value)) << text;
  return value;
}

CGwrouteData RouteKey(const char* network, const char* netmask, const char* device = "") {
  CGwrouteData route;
  route.device = device;
  route.networkText = network;
  route.network = Ip(network);
  route.netmaskText = netmask;
  route.netmask = Ip(netmask);
  return route;
}

class GwrouteFileTest : public ::testing::Test {
 protected:
  GwrouteFileTest() {
    Add("172.16.0.1", "880", 880);
    Add("172.16.0.2", "8080", 8080);
    Add("172.16.0.3", "880", 880);
    gateways_.MarkDeleted(CGwDataList::AddressKey(Ip("172.16.0.3")));
  }

  void Add(const char* address, const char* portText, std::uint16_t port) {
    auto* gateway = new CGwData;
    gateway->addressText = address;
    gateway->address = Ip(address);
    gateway->portText = portText;
    gateway->port = port;
    gateways_.AddUnique(gateway);
  }

  // Deleted gateways included: the search goes by address alone, whatever the flags.
  CGwrouteDataList& Routes(const char* address) {
    CGwData key = CGwDataList::AddressKey(Ip(address));
    CGwData* gateway = gateways_.FindLive(key, false);
    if (gateway == nullptr) gateway = gateways_.FindDeleted(key, false);
    return gateway->Routes();
  }

  // "device network/netmask" of each live route, in list order. Called after a load, so
  // every live route came from the file and carries the added flag.
  std::vector<std::string> Live(const char* address) {
    std::vector<std::string> out;
    CGwrouteDataList& routes = Routes(address);
    for (CNacNode* node = routes.GetHead(false); node != nullptr; node = routes.GetNext(node, false)) {
      const auto* route = node->RecordAs<CGwrouteData>();
      if (!route->IsLive()) continue;
      EXPECT_EQ(route->added, 1);
      out.push_back(route->device + " " + route->networkText + "/" + route->netmaskText);
    }
    return out;
  }

  testing_support::TempDir dir_;
  CGwDataList gateways_;
};

TEST_F(GwrouteFileTest, SaveWritesEveryGatewaysLiveRoutesAndLoadFindsGatewaysByAddress) {
  Routes("172.16.0.1").AddUnique(new CGwrouteData(RouteKey("10.1.0.0", "255.255.0.0", "eth1")));
  Routes("172.16.0.1").AddUnique(new CGwrouteData(RouteKey("10.2.0.0", "255.255.0.0")));
  Routes("172.16.0.1").MarkDeleted(RouteKey("10.2.0.0", "255.255.0.0"));
  Routes("172.16.0.2").AddUnique(new CGwrouteData(RouteKey("192.168.0.0", "255.255.255.0")));
  Routes("172.16.0.3").AddUnique(new CGwrouteData(RouteKey("10.3.0.0", "255.255.0.0")));

  ASSERT_EQ(SaveGwroutes(gateways_, "gwroute.csv"), 0);
  EXPECT_EQ(dir_.Read("gwroute.csv"),
            "\"172.16.0.1\",\"eth1\",\"10.1.0.0\",\"255.255.0.0\"\r\n"
            "\"172.16.0.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
            "\"172.16.0.3\",,\"10.3.0.0\",\"255.255.0.0\"\r\n");
  struct stat info {};
  ASSERT_EQ(stat("gwroute.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  EXPECT_EQ(LoadGwroutes(gateways_, "gwroute.csv"), GwrouteLoadResult::kLoaded);
  EXPECT_EQ(Live("172.16.0.1"), std::vector<std::string>{"eth1 10.1.0.0/255.255.0.0"});
  EXPECT_EQ(Live("172.16.0.2"), std::vector<std::string>{" 192.168.0.0/255.255.255.0"});
  EXPECT_TRUE(Live("172.16.0.3").empty());
  EXPECT_EQ(Routes("172.16.0.1").GetCount(false), 3);
}

TEST_F(GwrouteFileTest, LoadSkipsUnknownGatewaysAndReusesThePreviousAddress) {
  dir_.Write("gwroute.csv",
             ",,\"10.0.0.0\",\"255.0.0.0\"\r\n"
             "\"10.9.9.9\",,\"10.0.0.0\",\"255.0.0.0\"\r\n"
             "\"172.16.0.1\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
             ",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
             "  ,\"eth1\",\"10.1.0.0\"\r\n");
  EXPECT_EQ(LoadGwroutes(gateways_, "gwroute.csv"), GwrouteLoadResult::kLoaded);
  EXPECT_EQ(Live("172.16.0.1"), (std::vector<std::string>{" 192.168.0.0/255.255.255.0",
                                                          " 192.168.0.0/255.255.255.0", "eth1 10.1.0.0/"}));
  EXPECT_TRUE(Live("172.16.0.2").empty());
}

TEST_F(GwrouteFileTest, FailuresKeepWhatCameBeforeAndWithdrawEverything) {
  Routes("172.16.0.2").AddUnique(new CGwrouteData(RouteKey("192.168.0.0", "255.255.255.0")));
  Routes("172.16.0.3").AddUnique(new CGwrouteData(RouteKey("10.3.0.0", "255.255.0.0")));

  dir_.Write("gwroute.csv",
             "\"172.16.0.1\",,\"10.1.0.0\",\"255.255.0.0\"\r\n"
             "\"172.16.0.1\",,\"10.2.0.0\",\"255.0.255.0\"\r\n"
             "\"172.16.0.1\",,\"10.3.0.0\",\"255.255.0.0\"\r\n");
  EXPECT_EQ(LoadGwroutes(gateways_, "gwroute.csv"), GwrouteLoadResult::kBadLine);
  EXPECT_EQ(Live("172.16.0.1"), std::vector<std::string>{" 10.1.0.0/255.255.0.0"});
  EXPECT_TRUE(Live("172.16.0.2").empty());

  for (const char* bad : {"\"172.16.0.256\",,\"10.1.0.0\"", "\"172.16.0.1\",,\"10.1.0\""}) {
    dir_.Write("gwroute.csv", std::string(bad) + "\r\n");
    EXPECT_EQ(LoadGwroutes(gateways_, "gwroute.csv"), GwrouteLoadResult::kBadLine) << bad;
  }

  Routes("172.16.0.2").AddUnique(new CGwrouteData(RouteKey("192.168.9.0", "255.255.255.0")));
  EXPECT_EQ(LoadGwroutes(gateways_, "missing.csv"), GwrouteLoadResult::kNotOpened);
  for (const char* address : {"172.16.0.1", "172.16.0.2", "172.16.0.3"}) {
    EXPECT_TRUE(Live(address).empty()) << address;
  }
  // A directory opens but cannot be read.
  EXPECT_EQ(LoadGwroutes(gateways_, "."), GwrouteLoadResult::kReadError);
}

TEST(GwrouteDataListTest, IdentityComparesMaskedNetworksAndDevices) {
  CGwrouteDataList routes;
  ASSERT_EQ(routes.AddUnique(new CGwrouteData(RouteKey("192.168.0.0", "255.255.0.0"))), 0);
  auto* narrower = new CGwrouteData(RouteKey("192.168.0.0", "255.255.255.0"));
  EXPECT_EQ(routes.AddUnique(narrower), -1);
  delete narrower;
  ASSERT_EQ(routes.AddUnique(new CGwrouteData(RouteKey("192.168.0.0", "255.255.255.0", "eth0"))), 0);

  // A device in the key must be the route's; without one the device does not count.
  routes.MarkDeleted(RouteKey("192.168.0.0", "255.255.255.0", "eth1"));
  EXPECT_EQ(routes.FindDeleted(RouteKey("192.168.0.0", "255.255.0.0"), false), nullptr);
  routes.MarkDeleted(RouteKey("192.168.0.0", "255.255.255.0", "eth0"));
  const CGwrouteData* first = routes.FindDeleted(RouteKey("192.168.0.0", "255.255.0.0"), false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->device, "eth0");
  routes.MarkDeleted(RouteKey("192.168.0.0", "255.255.255.0"));
  EXPECT_EQ(routes.GetCount(false), 2);
  for (CNacNode* node = routes.GetHead(false); node != nullptr; node = routes.GetNext(node, false)) {
    EXPECT_FALSE(node->RecordAs<CGwrouteData>()->IsLive());
  }
}

}  // namespace
