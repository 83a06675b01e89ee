#include "registry/GwDataList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <iterator>
#include <string>

#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"
#include "tests/registry/RegistryModel.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

std::uint32_t Ip(const char* text) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(text, value)) << text;
  return value;
}

CGwData* NewGw(const char* address, const char* port = "880") {
  auto* gateway = new CGwData;
  gateway->addressText = address;
  gateway->address = Ip(address);
  gateway->portText = port;
  gateway->port = ParseNumberInRange(port, 1, 65535);
  return gateway;
}

// "address:port" per gateway.
std::string Gateways(CGwDataList& list) {
  return testing_support::Dump<CGwData>(list, [](auto& g) { return g.addressText + ":" + std::to_string(g.port); });
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
// gateway must be sent its whole state again.
TEST(GwDataListTest, KeepAliveCountsFailuresWhileOn) {
  const struct {
    bool answered;
    int changed, on, resetPending;
  } probes[] = {
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 1, 0, 0}, {false, 0, 0, 0},
      {true, 1, 1, 1},  {false, 0, 1, 0}, {false, 0, 1, 0}, {false, 0, 1, 0}, {true, 0, 1, 0},  {false, 0, 1, 0},
  };
  CGwDataList list;
  CGwData* gw = NewGw("10.0.0.1", "8080");
  list.AddUnique(gw);
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
}

TEST(GwDataListTest, FileHoldsLiveGatewaysAndIsPrivate) {
  testing_support::TempDir dir;
  CGwDataList list;
  list.AddUnique(NewGw("172.16.0.1"));
  CGwData* bare = NewGw("10.0.0.2", "8080");
  bare->user.clear();
  bare->password.clear();
  list.AddUnique(bare);
  list.AddUnique(NewGw("10.0.0.3"));
  list.MarkDeleted(CGwDataList::AddressKey(Ip("10.0.0.3")));
  ASSERT_EQ(list.Save("gw.csv"), 0);
  EXPECT_EQ(dir.Read("gw.csv"), "\"172.16.0.1\",880,\"admin\",\"tovin\"\r\n\"10.0.0.2\",8080,,\r\n");
  struct stat info {};
  ASSERT_EQ(stat("gw.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Each file is loaded over one older gateway, withdrawn unless the file is missing.
TEST(GwDataListTest, LoadKeepsTheLinesBeforeTheFirstBadOne) {
  const struct {
    const char* content;  // none: no file
    int result;
    const char* after;
  } cases[] = {
      {nullptr, -1, ""},
      {"\"10.0.0.1\"\r\n 10.0.0.2 , 8080 \r\n", 0, "10.0.0.1:880+;10.0.0.2:8080+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.2\",0\r\n\"10.0.0.4\"\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.2\",65536\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.1\"\r\n\"10.0.0.1\",8080\r\n\"10.0.0.4\"\r\n", -1, "10.0.0.1:880+;"},
      {"\"10.0.0.256\"\r\n", -1, ""},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "no file");
    if (c.content != nullptr) dir.Write("gw.csv", c.content);
    CGwDataList list;
    list.AddUnique(NewGw("10.0.0.9"));
    EXPECT_EQ(list.Load(c.content != nullptr ? "gw.csv" : "missing.csv"), c.result);
    EXPECT_EQ(Gateways(list), (c.content != nullptr ? "-10.0.0.9:880;" : "10.0.0.9:880;") + std::string(c.after));
  }
}

}  // namespace
