#include "registry/GwrouteFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

CGwrouteData* Route(const char* network, const char* netmask, const char* device = "") {
  auto* route = new CGwrouteData;
  route->device = device;
  route->networkText = network;
  route->netmaskText = netmask;
  EXPECT_TRUE(ParseIPv4Value(network, route->network) && ParseIPv4Value(netmask, route->netmask));
  return route;
}

// Identity: equal devices and masked networks. Match: the key's device, if any, and masked networks.
TEST(GwrouteDataListTest, IdentityAndMatch) {
  const struct {
    const char *storedDevice, *network, *device;
    int add;
    bool match;
  } cases[] = {
      {"", "192.168.0.0", "", -1, true},
      {"", "192.168.0.0", "eth0", 0, false},
      {"eth0", "192.168.0.0", "", 0, true},
      {"eth0", "192.168.0.0", "eth0", -1, true},
      {"", "192.168.1.0", "", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CGwrouteDataList>(
                  std::unique_ptr<CGwrouteData>(Route("192.168.0.0", "255.255.0.0", c.storedDevice)),
                  std::unique_ptr<CGwrouteData>(Route(c.network, "255.255.255.0", c.device))),
              std::make_pair(c.add, c.match))
        << c.storedDevice << " / " << c.network << " " << c.device;
  }
}

class GwrouteFileTest : public ::testing::Test {
 protected:
  GwrouteFileTest() {
    for (int n = 0; n < 3; ++n) {
      gw_[n] = new CGwData;
      gw_[n]->addressText = "172.16.0." + std::to_string(n + 1);
      ParseIPv4Value(gw_[n]->addressText.c_str(), gw_[n]->address);
      gateways_.AddUnique(gw_[n]);
    }
    gw_[0]->Routes().AddUnique(Route("10.1.0.0", "255.255.0.0", "eth1"));
    CGwrouteData* withdrawn = Route("10.2.0.0", "255.255.0.0");
    gw_[0]->Routes().AddUnique(withdrawn);
    withdrawn->deleted = 1;
    gw_[1]->Routes().AddUnique(Route("192.168.0.0", "255.255.255.0"));
    gw_[2]->Routes().AddUnique(Route("10.3.0.0", "255.255.0.0"));
    gateways_.MarkDeleted(CGwDataList::AddressKey(gw_[2]->address));
  }

  // "gateway device network/netmask" of every live route; "+" when flagged added.
  std::string Live() {
    std::string out;
    for (int n = 0; n < 3; ++n) {
      CGwrouteDataList& routes = gw_[n]->Routes();
      for (CNacNode* node = routes.GetHead(false); node != nullptr; node = routes.GetNext(node, false)) {
        const auto& r = *node->RecordAs<CGwrouteData>();
        if (!r.IsLive()) continue;
        out += std::to_string(n + 1) + r.device + " " + r.networkText + "/" + r.netmaskText + (r.added ? "+|" : "|");
      }
    }
    return out;
  }

  testing_support::TempDir dir_;
  CGwDataList gateways_;
  CGwData* gw_[3];
};

TEST_F(GwrouteFileTest, SaveWritesTheLiveRoutesOfEveryGateway) {
  ASSERT_EQ(SaveGwroutes(gateways_, "gwroute.csv"), 0);
  EXPECT_EQ(dir_.Read("gwroute.csv"),
            "\"172.16.0.1\",\"eth1\",\"10.1.0.0\",\"255.255.0.0\"\r\n"
            "\"172.16.0.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
            "\"172.16.0.3\",,\"10.3.0.0\",\"255.255.0.0\"\r\n");
}

// Every load withdraws all routes first; a failure keeps what came before it.
TEST_F(GwrouteFileTest, LoadOutcomes) {
  const struct {
    const char* content;  // none: no file
    GwrouteLoadResult result;
    const char* live;
  } cases[] = {
      {nullptr, GwrouteLoadResult::kNotOpened, ""},
      // No gateway, an unknown one and a withdrawn one are passed over; an empty address is
      // the line before's, and the same route twice is two routes.
      {",,\"10.0.0.0\",\"255.0.0.0\"\r\n\"10.9.9.9\",,\"10.0.0.0\"\r\n\"172.16.0.3\",,\"10.0.0.0\"\r\n"
       "\"172.16.0.2\",,\"10.5.0.0\",\"255.255.0.0\"\r\n  ,\"eth1\",\"10.1.0.0\"\r\n,\"eth1\",\"10.1.0.0\"\r\n",
       GwrouteLoadResult::kLoaded, "2 10.5.0.0/255.255.0.0+|2eth1 10.1.0.0/+|2eth1 10.1.0.0/+|"},
      {"\"172.16.0.1\",,\"10.1.0.0\",\"255.255.0.0\"\r\n\"172.16.0.1\",,\"10.2.0.0\",\"255.0.255.0\"\r\n"
       "\"172.16.0.1\",,\"10.3.0.0\"\r\n",
       GwrouteLoadResult::kBadLine, "1 10.1.0.0/255.255.0.0+|"},
      {"\"172.16.0.256\",,\"10.1.0.0\"\r\n", GwrouteLoadResult::kBadLine, ""},
      {"\"172.16.0.1\",,\"10.1.0\"\r\n", GwrouteLoadResult::kBadLine, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    if (c.content != nullptr) dir_.Write("gwroute.csv", c.content);
    EXPECT_EQ(LoadGwroutes(gateways_, c.content != nullptr ? "gwroute.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Live(), c.live);
    gw_[1]->Routes().AddUnique(Route("10.9.0.0", "255.255.0.0"));  // withdrawn by the next load
  }
  EXPECT_EQ(LoadGwroutes(gateways_, "."), GwrouteLoadResult::kNotOpened);  // not a regular file
}

}  // namespace
