// The scheduler and its probers pinging gateways on the loopback addresses of the test's
// own network namespace, with calendar seconds moved by hand.

#include "keepalive/NacKeepAlive.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "keepalive/IcmpPing.h"
#include "msgthread/RegisteredMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Syslog.h"
#include "tests/common/Eventually.h"
#include "tests/common/ManualClock.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::PrivateNetwork;
using namespace std::chrono_literals;

std::uint32_t Address(const std::string& text) { return ::inet_addr(text.c_str()); }

class KeepAliveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    PrivateNetwork::LoopbackHostsOnly();
    PrivateNetwork::AnswerEcho(true);
    GetGwDataList().RemoveAll(false);
  }
  void TearDown() override {
    keepAlive_.reset();
    GetGwDataList().RemoveAll(false);
  }

  static void Register(const std::string& address) {
    auto* gateway = new CGwData();
    gateway->addressText = address;
    gateway->address = Address(address);
    if (GetGwDataList().AddUnique(gateway) != 0) delete gateway;
  }
  void Start() {
    keepAlive_ = std::make_unique<CNacKeepAlive>();
    keepAlive_->SaveThreadID(owner_.Id());
    ASSERT_EQ(keepAlive_->StartTimer(), 0);
  }
  // A copy of the gateway's record as it stands, withdrawn or not.
  static CGwData Record(const std::string& address) {
    CNacList::Guard guard(GetGwDataList());
    for (CNacNode* node = GetGwDataList().GetHead(true); node != nullptr; node = GetGwDataList().GetNext(node, true)) {
      if (node->RecordAs<CGwData>()->addressText == address) return *node->RecordAs<CGwData>();
    }
    return CGwData();
  }
  // Moves the clock on (by one interval) and waits until every gateway named has been probed.
  void ProbeRound(const std::vector<std::string>& addresses, std::int64_t seconds = 10) {
    clock_.Advance(seconds);
    const std::int64_t now = clock_.NowSeconds();
    for (const std::string& address : addresses) {
      const auto probed = [&] {
        const CGwData gateway = Record(address);
        return gateway.lastProbeTime == now && gateway.probeOutstanding == 0;
      };
      ASSERT_TRUE(testing_support::Eventually(probed, 5s)) << address << " was not probed";
    }
  }
  // The reports of one kind for this address that reached the owner.
  int Reports(std::uint32_t message, const std::string& address) {
    int count = 0;
    for (const platform::ThreadMessage& m : owner_.Received()) {
      count += m.message == message && m.wParam == Address(address) && m.lParam == 0 ? 1 : 0;
    }
    return count;
  }

  // Waits until count reports of one kind for this address have reached the owner: a report
  // passes through the scheduler's thread after the prober has changed the record.
  bool ReportsReach(std::uint32_t message, const std::string& address, int count) {
    return testing_support::Eventually([&] { return Reports(message, address) >= count; }, 10s);
  }

  testing_support::TempDir dir_;
  testing_support::ManualClock clock_;
  testing_support::OwnerStandIn owner_;
  std::unique_ptr<CNacKeepAlive> keepAlive_;
};

TEST_F(KeepAliveTest, OnOnceWhileAnsweringOffAtTheFourthFailureAndOnceOnly) {
  PrivateNetwork::AddAddress("127.0.0.10");
  Register("127.0.0.10");
  Start();
  ASSERT_TRUE(ReportsReach(msg::keepalive::WM_KEEPALIVE_START, "127.0.0.10", 1));
  for (int round = 0; round < 3; ++round) ProbeRound({"127.0.0.10"});
  EXPECT_EQ(Reports(msg::keepalive::WM_KEEPALIVE_START, "127.0.0.10"), 1);

  PrivateNetwork::RemoveAddress("127.0.0.10");
  for (int failure = 1; failure <= 3; ++failure) ProbeRound({"127.0.0.10"});
  EXPECT_EQ(Reports(msg::keepalive::WM_KEEPALIVE_STOP, "127.0.0.10"), 0) << "OFF before the fourth failure";
  ProbeRound({"127.0.0.10"});
  ASSERT_TRUE(ReportsReach(msg::keepalive::WM_KEEPALIVE_STOP, "127.0.0.10", 1));
  for (int round = 0; round < 2; ++round) ProbeRound({"127.0.0.10"});
  EXPECT_EQ(Reports(msg::keepalive::WM_KEEPALIVE_STOP, "127.0.0.10"), 1);

  PrivateNetwork::AddAddress("127.0.0.10");
  ProbeRound({"127.0.0.10"});
  EXPECT_TRUE(Record("127.0.0.10").on);
  EXPECT_TRUE(ReportsReach(msg::keepalive::WM_KEEPALIVE_START, "127.0.0.10", 2));
  EXPECT_EQ(Reports(msg::keepalive::WM_KEEPALIVE_START, "127.0.0.10"), 2);
}

// The scans run every 100 ms on the calendar seconds of the clock. A withdrawn gateway, and one
// whose last probe is still out, are passed over.
TEST_F(KeepAliveTest, ProbedAgainOnlyOnceItsIntervalHasPassedAndNotWhenWithdrawnOrOutstanding) {
  PrivateNetwork::AddAddress("127.0.0.10");
  for (const char* address : {"127.0.0.10", "127.0.0.12", "127.0.0.13"}) Register(address);
  {
    CNacList::Guard guard(GetGwDataList());
    GetGwDataList().FindLive(CGwDataList::AddressKey(Address("127.0.0.12")), guard)->deleted = 1;
    GetGwDataList().FindLive(CGwDataList::AddressKey(Address("127.0.0.13")), guard)->probeOutstanding = 1;
  }
  Start();
  ProbeRound({"127.0.0.10"}, 0);  // never probed: due at once
  clock_.Advance(9);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Record("127.0.0.10").lastProbeTime, clock_.NowSeconds() - 9);
  const auto due = std::chrono::steady_clock::now();
  ProbeRound({"127.0.0.10"}, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - due, 500ms) << "a probe that is due waits for more than a scan or two";
  EXPECT_EQ(Record("127.0.0.12").lastProbeTime, 0);
  EXPECT_EQ(Record("127.0.0.13").lastProbeTime, 0);
}

TEST_F(KeepAliveTest, TwentySilentGatewaysAreSharedByTheFiveProbers) {
  // Each silent gateway holds its prober for a second: alone, one prober would need 20.
  const std::string silent = PrivateNetwork::SilentNetwork();
  std::vector<std::string> addresses;
  for (int host = 1; host <= 20; ++host) {
    addresses.push_back(silent + std::to_string(host));
    Register(addresses.back());
  }
  const auto started = std::chrono::steady_clock::now();
  Start();
  ProbeRound(addresses, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
}

TEST_F(KeepAliveTest, PingModesAnswerAndFailAsTheirSocketsAllow) {
  CloseSyslog();  // the log's own socket holds port 514 until then
  auto collector = std::make_unique<testing_support::UdpCollector>(1);  // the one loopback address left
  dir_.Write("syslog.ini", collector->SyslogIni());
  SetLogThreshold(7);
  PrivateNetwork::AddAddress("127.0.0.10");
  EXPECT_EQ(RawPing(Address("127.0.0.10"), 77), 0);
  const auto unreachable = std::chrono::steady_clock::now();
  EXPECT_EQ(RawPing(Address("127.0.0.14"), 77), -1);  // no route: at once
  EXPECT_LT(std::chrono::steady_clock::now() - unreachable, 500ms);

  PrivateNetwork::PingGroupRange("0 2147483647");
  EXPECT_EQ(LibraryPing(Address("127.0.0.10")), 0);
  PrivateNetwork::PingGroupRange("1 0");
  EXPECT_EQ(LibraryPing(Address("127.0.0.10")), -1);
  EXPECT_EQ(testing_support::LogTexts(collector->Drain(), ""),
            (std::vector<std::string>{"I transmitted PING to GW(127.0.0.10).", "I received a PING reply of GW(127.0.0.10).",
                                      "I transmitted PING to GW(127.0.0.10).", "I received a PING reply of GW(127.0.0.10).",
                                      "I failed in load of an ICMP.DLL library."}));
  CloseSyslog();
}

}  // namespace
