#include "registry/GwDataList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"

namespace {

// These tests send no log lines anywhere: no line of this registry is at priority 0.
[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

std::uint32_t Ip(const char* text) {
  std::uint32_t value = 0;
  EXPECT_TRUE(ParseIPv4Value(text, value)) << text;
  return value;
}

// A gateway as gw add makes it; also the key of gw del.
CGwData Gw(const char* address, const char* port = "880") {
  CGwData gateway;
  gateway.addressText = address;
  gateway.address = Ip(address);
  gateway.portText = port;
  gateway.port = ParseNumberInRange(port, 1, 65535);
  return gateway;
}

CGwData* NewGw(const char* address, const char* port = "880") { return new CGwData(Gw(address, port)); }

// The key of a lookup by address alone.
CGwData At(const char* address) { return CGwDataList::AddressKey(Ip(address)); }

CGwrouteData Route(const char* network) {
  CGwrouteData route;
  route.networkText = network;
  route.network = Ip(network);
  route.netmaskText = "255.255.255.0";
  route.netmask = Ip("255.255.255.0");
  return route;
}

TEST(GwDataListTest, IdentityIgnoresPortsMatchHonoursTheKeysPort) {
  CGwDataList list;
  CGwData* first = NewGw("10.0.0.1", "8080");
  ASSERT_EQ(list.AddUnique(first), 0);
  CGwData* twin = NewGw("10.0.0.1");
  EXPECT_EQ(list.AddUnique(twin), -1);
  delete twin;

  EXPECT_EQ(list.FindLive(At("10.0.0.1"), false), first);
  EXPECT_EQ(list.FindLive(Gw("10.0.0.1", "8080"), false), first);
  EXPECT_EQ(list.FindLive(Gw("10.0.0.1"), false), nullptr);
  EXPECT_EQ(list.FindLive(At("10.0.0.2"), false), nullptr);

  list.MarkDeleted(Gw("10.0.0.1"));
  EXPECT_TRUE(first->IsLive());
  list.MarkDeleted(At("10.0.0.1"));
  EXPECT_FALSE(first->IsLive());

  CGwData* again = NewGw("10.0.0.1");
  ASSERT_EQ(list.AddUnique(again), 0);
  EXPECT_EQ(list.FindLive(At("10.0.0.1"), false), again);
  EXPECT_EQ(list.FindDeleted(At("10.0.0.1"), false), first);
}

TEST(GwDataListTest, KeepAliveFollowsProbesByAddressAlone) {
  CGwDataList list;
  CGwData* gateway = NewGw("10.0.0.1", "8080");
  list.AddUnique(gateway);
  gateway->resetPending = 0;
  gateway->probeOutstanding = 1;

  EXPECT_EQ(list.KeepAliveOn(Ip("10.0.0.9")), 0);
  EXPECT_EQ(list.KeepAliveOff(Ip("10.0.0.9")), 0);
  EXPECT_EQ(gateway->probeOutstanding, 1);

  const std::uint8_t bytes[4] = {10, 0, 0, 1};
  EXPECT_EQ(list.KeepAliveOn(bytes), 1);
  EXPECT_EQ(gateway->on, 1);
  EXPECT_EQ(gateway->resetPending, 1);
  EXPECT_EQ(gateway->probeOutstanding, 0);

  for (int failure = 1; failure <= 3; ++failure) EXPECT_EQ(list.KeepAliveOff(bytes), 0) << failure;
  EXPECT_EQ(gateway->on, 1);
  EXPECT_EQ(gateway->failureCount, 3u);
  EXPECT_EQ(list.KeepAliveOff(bytes), 1);
  EXPECT_EQ(gateway->on, 0);
  EXPECT_EQ(list.KeepAliveOff(bytes), 0);
  EXPECT_EQ(gateway->failureCount, 4u);

  gateway->resetPending = 0;
  EXPECT_EQ(list.KeepAliveOn(Ip("10.0.0.1")), 1);
  EXPECT_EQ(gateway->resetPending, 1);
  EXPECT_EQ(gateway->failureCount, 0u);
  gateway->resetPending = 0;
  EXPECT_EQ(list.KeepAliveOn(Ip("10.0.0.1")), 0);
  EXPECT_EQ(gateway->resetPending, 0);

  list.MarkDeleted(At("10.0.0.1"));
  for (int failure = 0; failure < 5; ++failure) EXPECT_EQ(list.KeepAliveOff(bytes), 0);
  EXPECT_EQ(gateway->on, 1);
}

TEST(GwDataListTest, GwCsvLinesAndLoadRules) {
  testing_support::TempDir dir;
  CGwDataList list;
  list.AddUnique(NewGw("172.16.0.1"));
  CGwData* bare = NewGw("10.0.0.2", "8080");
  bare->user.clear();
  bare->password.clear();
  list.AddUnique(bare);
  list.AddUnique(NewGw("10.0.0.3"));
  list.MarkDeleted(At("10.0.0.3"));

  ASSERT_EQ(list.Save("gw.csv"), 0);
  EXPECT_EQ(dir.Read("gw.csv"), "\"172.16.0.1\",880,\"admin\",\"tovin\"\r\n\"10.0.0.2\",8080,,\r\n");
  struct stat info {};
  ASSERT_EQ(stat("gw.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  CGwDataList loaded;
  CGwData* previous = NewGw("10.0.0.9");
  loaded.AddUnique(previous);
  ASSERT_EQ(loaded.Load("gw.csv"), 0);
  EXPECT_FALSE(previous->IsLive());
  const CGwData* back = loaded.FindLive(At("10.0.0.2"), false);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->port, 8080);
  EXPECT_EQ(back->user, "");
  EXPECT_EQ(back->password, "tovin");
  EXPECT_EQ(back->added, 1);

  // A bad line ends the load; what came before stays.
  for (const char* second : {"\"10.0.0.2\",0", "\"10.0.0.1\",8080"}) {
    dir.Write("bad.csv", std::string("\"10.0.0.1\"\r\n") + second + "\r\n\"10.0.0.4\"\r\n");
    CGwDataList partial;
    EXPECT_EQ(partial.Load("bad.csv"), -1) << second;
    EXPECT_EQ(partial.GetCount(false), 1) << second;
    EXPECT_NE(partial.FindLive(Gw("10.0.0.1"), false), nullptr) << second;
  }

  EXPECT_EQ(loaded.Load("missing.csv"), -1);
  EXPECT_NE(loaded.FindLive(At("172.16.0.1"), false), nullptr);
}

TEST(GwDataListTest, CopyAllCarriesRoutesAndDeletedRecords) {
  CGwDataList list;
  CGwData* routed = NewGw("10.0.0.1");
  routed->on = 1;
  routed->Routes().AddUnique(new CGwrouteData(Route("192.168.0.0")));
  routed->Routes().AddUnique(new CGwrouteData(Route("192.168.1.0")));
  routed->Routes().MarkDeleted(Route("192.168.1.0"));
  list.AddUnique(routed);
  CGwData* gone = NewGw("10.0.0.2");
  gone->added = 1;
  list.AddUnique(gone);
  list.MarkDeleted(At("10.0.0.2"));

  CGwDataList copy;
  copy.AddUnique(NewGw("10.0.0.7"));
  ASSERT_EQ(list.CopyAll(&copy), 2);
  EXPECT_EQ(copy.FindLive(At("10.0.0.7"), false), nullptr);
  CGwData* copied = copy.FindLive(At("10.0.0.1"), false);
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied, routed);
  EXPECT_EQ(copied->on, 1);
  ASSERT_EQ(copied->Routes().GetCount(false), 2);
  EXPECT_NE(copied->Routes().FindDeleted(Route("192.168.1.0"), false), nullptr);
  const CGwData* deleted = copy.FindDeleted(At("10.0.0.2"), false);
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->added, 1);

  // The record's own copy leaves the routes to CopyAll.
  EXPECT_EQ(CGwData(*routed).Routes().GetCount(false), 0);
}

}  // namespace
