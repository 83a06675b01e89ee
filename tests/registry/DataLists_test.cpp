// Each registry's own rules: which records may join and what a key finds; a gateway's
// keep-alive state. What the files hold is the registry files' test.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/registry/RegistryModel.h"

namespace {

using registry_model::NewGw;
using registry_model::NewRoute;
using registry_model::Own;

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

constexpr std::int32_t A = CNacData::kAccept;
constexpr std::int32_t D = CNacData::kDrop;

struct Fields {
  std::int32_t target;
  const char* source;
  const char* mac;
};

std::unique_ptr<CNacData> Entry(const Fields& f) {
  auto entry = std::make_unique<CNacData>();
  entry->target = f.target;
  EXPECT_TRUE(entry->SetSource(f.source) && entry->SetMac(f.mac));
  return entry;
}

// Identity and match are one rule: whether other may join stored, and whether it finds it.
TEST(NacDataListTest, IdentityAndMatch) {
  const struct {
    Fields stored, other;
    int add;
    bool match;
  } cases[] = {
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", ""}, -1, true},
      {{A, "192.168.0.1", ""}, {A, "192.168.0.1", "001122334455"}, 0, false},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "00:00:00:00:00:00"}, -1, true},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "00-11-22-33-44-55"}, -1, true},
      {{A, "192.168.0.1", "001122334455"}, {A, "192.168.0.1", "001122334466"}, 0, false},
      {{A, "192.168.0.1", "001122334455"}, {D, "192.168.0.1", "001122334455"}, 0, false},
      {{A, "192.168.0.1", ""}, {A, "192.168.0.2", ""}, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CNacDataList>(Entry(c.stored), Entry(c.other)),
              std::make_pair(c.add, c.match))
        << c.stored.mac << " / " << c.other.source << " " << c.other.mac;
  }
}

std::unique_ptr<CQuarantineData> Server(const char* source, const char* protocol, const char* port) {
  auto server = std::make_unique<CQuarantineData>();
  EXPECT_TRUE(server->SetSource(source) && server->SetPort(port));
  server->protocol = protocol;
  return server;
}

int Add(CQuarantineDataList& list, const char* source, const char* protocol, const char* port) {
  return registry_model::Own(list, Server(source, protocol, port));
}

// Identity and match are one rule: address bytes, protocol text and port text.
TEST(QuarantineDataListTest, IdentityAndMatch) {
  CQuarantineDataList list;
  ASSERT_EQ(Add(list, "172.17.254.254", "tcp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.017.254.254", "tcp", "4208"), -1);
  EXPECT_EQ(Add(list, "172.17.254.254", "udp", "4208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.254", "tcp", "04208"), 0);
  EXPECT_EQ(Add(list, "172.17.254.253", "tcp", "4208"), 0);
}

// "mac,source,network,netmask"; a MAC of "M" or "N" stands for one of two fixed ones.
std::unique_ptr<CPcData> Pc(const std::string& text) {
  std::string f[4];
  std::istringstream in(text);
  for (std::string& field : f) std::getline(in, field, ',');
  if (f[0] == "M" || f[0] == "N") f[0] = f[0] == "M" ? "00:11:22:33:44:55" : "00:11:22:33:44:66";
  auto pc = std::make_unique<CPcData>();
  EXPECT_TRUE(pc->SetMac(f[0].c_str()) && pc->SetSource(f[1].c_str()) && pc->SetNetwork(f[2].c_str()) &&
              pc->SetNetmask(f[3].c_str()))
      << text;
  return pc;
}

// Whether other may join stored (a shape that is neither PC nor network never may), and
// whether other as a key finds stored.
TEST(PcDataListTest, IdentityAndMatch) {
  const struct {
    const char *stored, *other;
    int add;
    bool match;
  } cases[] = {
      {"M", "M", -1, true},
      {"M", "M,10.0.0.1", 0, false},
      {"M", "N", 0, false},
      {"M,10.0.0.1", "M", -1, true},
      {"M,,10.0.0.0,255.0.0.0", "M", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, true},
      {"M,,192.168.0.0,255.255.255.0", "M,,192.168.0.0,255.255.0.0", 0, false},
      {"M,,192.168.0.0,255.255.255.0", ",,192.168.0.0,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "M,,192.168.0.9,255.255.255.0", -1, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.1.0,255.255.255.0", 0, false},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77,255.255.255.0", -1, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.0", 0, true},
      {",,192.168.0.0,255.255.255.0", ",,192.168.0.77", 0, false},
      {",,10.0.0.0", ",,20.0.0.0", -1, false},
      {",,192.168.0.0,255.255.255.0", "", -1, true},
      {"M,10.0.0.1", "N,10.0.0.1,192.168.0.0", -1, false},
      {"M", ",10.0.0.1", -1, false},
      {"M", ",,,255.0.0.0", -1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CPcDataList>(Pc(c.stored), Pc(c.other)), std::make_pair(c.add, c.match))
        << c.stored << " / " << c.other;
  }
}

std::uint32_t Ip(const char* text) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(text, value)) << text;
  return value;
}

// Identity is the address alone; a match needs the key's port too when the key has one.
TEST(GwDataListTest, IdentityAndMatch) {
  const struct {
    const char *address, *port;
    int add;
    bool match;
  } cases[] = {
      {"10.0.0.1", "8080", -1, true},
      {"10.0.0.1", "880", -1, false},
      {"10.0.0.1", "", -1, true},
      {"10.0.0.2", "8080", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry_model::JoinAndFind<CGwDataList>(std::unique_ptr<CGwData>(NewGw("10.0.0.1", "8080")),
                                                       std::unique_ptr<CGwData>(NewGw(c.address, c.port))),
              std::make_pair(c.add, c.match))
        << c.address << ":" << c.port;
  }
}

// Probe results in turn: whether the state changed, the state after, and whether the
// gateway must be sent its whole state again. Each change is logged.
TEST(GwDataListTest, KeepAliveCountsFailuresWhileOn) {
  testing_support::TempDir dir;
  const auto collector = testing_support::UdpCollector::OnFreeAddress();
  collector->TakeTheLog();
  const struct {
    bool answered;
    int changed, on, resetPending;
  } probes[] = {
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 1, 0, 0}, {false, 0, 0, 0},
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {true, 0, 1, 0},  {false, 0, 1, 0},
  };
  CGwDataList list;
  CGwData* gw = NewGw("10.0.0.1", "8080");
  EXPECT_EQ(list.AddUnique(gw), 0);
  EXPECT_EQ(list.KeepAliveOn(Ip("10.0.0.9")), 0);
  const std::uint8_t bytes[4] = {10, 0, 0, 1};
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    gw->resetPending = 0;
    gw->probeOutstanding = 1;
    EXPECT_EQ(probes[i].answered ? list.KeepAliveOn(bytes) : list.KeepAliveOff(Ip("10.0.0.1")), probes[i].changed) << i;
    EXPECT_EQ(gw->on, probes[i].on) << i;
    EXPECT_EQ(gw->resetPending, probes[i].resetPending) << i;
    EXPECT_EQ(gw->probeOutstanding, 0) << i;
  }
  list.MarkDeleted(CGwDataList::AddressKey(Ip("10.0.0.1")));
  for (int failure = 0; failure < 5; ++failure) EXPECT_EQ(list.KeepAliveOff(bytes), 0);
  EXPECT_EQ(gw->on, 1);
  // An unknown or withdrawn gateway is not found.
  const std::string on = "GW(10.0.0.1) was diagnosed as ON by a keep alive function.", none = "I failed in a search of GW.";
  EXPECT_EQ(testing_support::LogTexts(collector->Drain(), ""),
            (std::vector<std::string>{none, on, "GW(10.0.0.1) was diagnosed as OFF by a keep alive function.", on, none,
                                      none, none, none, none}));
  SetLogThreshold(0);
  CloseSyslog();
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
                  std::unique_ptr<CGwrouteData>(NewRoute("192.168.0.0", "255.255.0.0", c.storedDevice)),
                  std::unique_ptr<CGwrouteData>(NewRoute(c.network, "255.255.255.0", c.device))),
              std::make_pair(c.add, c.match))
        << c.storedDevice << " / " << c.network << " " << c.device;
  }
}

}  // namespace
