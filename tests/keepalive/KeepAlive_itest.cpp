// The scheduler and its prober pinging gateways with real ICMP in the test's own network
// namespace: loopback addresses that answer, and a routed network that swallows every
// request. The monotonic clock is moved on by hand so that no test waits out an interval.

#include "keepalive/NacKeepAlive.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "msgthread/RegisteredMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "support/Syslog.h"
#include "tests/common/Eventually.h"
#include "tests/common/ManualClock.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::PrivateNetwork;
using namespace std::chrono_literals;

constexpr std::int64_t kIntervalMs = 10'000;

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
    for (const CGwData* gateway : testing_support::Records<CGwData>(GetGwDataList())) {
      if (gateway->addressText == address) return *gateway;
    }
    return CGwData();
  }
  // Waits until the gateway's probe scheduled after since has its result.
  static bool ProbedAfter(const std::string& address, std::int64_t since) {
    return testing_support::Eventually([&] {
      const CGwData gateway = Record(address);
      return gateway.lastProbeTime > since && gateway.probeOutstanding == 0;
    }, 10s);
  }
  // Moves the clock on by one interval and waits until every gateway named has been probed.
  void ProbeRound(const std::vector<std::string>& addresses) {
    std::vector<std::int64_t> before;
    for (const std::string& address : addresses) before.push_back(Record(address).lastProbeTime);
    clock_.AdvanceMonotonicMs(kIntervalMs);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      ASSERT_TRUE(ProbedAfter(addresses[i], before[i])) << addresses[i] << " was not probed";
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
  // Proves that the schedule has looked at the time since the caller's last move of the
  // clock: a gateway added now is due at once, and its probe comes from a later round.
  void ScheduleCaughtUp(const std::string& marker) {
    PrivateNetwork::AddAddress(marker);
    Register(marker);
    ASSERT_TRUE(ProbedAfter(marker, 0));
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
  EXPECT_TRUE(Record("127.0.0.10").on);
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

// A probe is due an interval after the last one was handed over, on the monotonic clock,
// however the calendar clock is stepped; a withdrawn gateway, and one whose last probe is
// still out, are passed over.
TEST_F(KeepAliveTest, ProbedAgainOnlyOnceItsIntervalHasPassedAndNotWhenWithdrawnOrOutstanding) {
  PrivateNetwork::AddAddress("127.0.0.10");
  for (const char* address : {"127.0.0.10", "127.0.0.12", "127.0.0.13"}) Register(address);
  {
    CNacList::Guard guard(GetGwDataList());
    GetGwDataList().FindLive(CGwDataList::AddressKey(Address("127.0.0.12")), guard)->deleted = 1;
    GetGwDataList().FindLive(CGwDataList::AddressKey(Address("127.0.0.13")), guard)->probeOutstanding = 1;
  }
  Start();
  ASSERT_TRUE(ProbedAfter("127.0.0.10", 0));  // never probed: due at once
  const std::int64_t first = Record("127.0.0.10").lastProbeTime;

  clock_.Advance(3600);
  clock_.AdvanceMonotonicMs(kIntervalMs - 1000);
  ScheduleCaughtUp("127.0.0.11");
  EXPECT_EQ(Record("127.0.0.10").lastProbeTime, first) << "probed before its interval had passed";

  clock_.Advance(-7200);
  clock_.AdvanceMonotonicMs(1000);
  ASSERT_TRUE(ProbedAfter("127.0.0.10", first)) << "an hour back held the probe";
  EXPECT_GE(Record("127.0.0.10").lastProbeTime - first, kIntervalMs);
  EXPECT_EQ(Record("127.0.0.12").lastProbeTime, 0);
  EXPECT_EQ(Record("127.0.0.13").lastProbeTime, 0);
}

// Live gateways and silent ones share one socket: each answer ends its own probe, each
// silent probe fails after its second without holding back the rest, and a stop in the
// middle of that leaves no gateway with a probe out.
TEST_F(KeepAliveTest, LiveAndSilentGatewaysAreToldApartAndAStopLeavesNoProbeOut) {
  std::vector<std::string> live, silent;
  for (int host = 20; host < 25; ++host) {
    live.push_back("127.0.0." + std::to_string(host));
    PrivateNetwork::AddAddress(live.back());
  }
  const std::string network = PrivateNetwork::SilentNetwork();
  for (int host = 1; host <= 40; ++host) silent.push_back(network + std::to_string(host));
  // Silent ones first: their probes are out while the live ones are sent.
  std::vector<std::string> all = silent;
  all.insert(all.end(), live.begin(), live.end());
  for (const std::string& address : all) Register(address);

  const std::uint64_t sentBefore = GetMetrics().probesSent.load();
  const std::uint64_t answeredBefore = GetMetrics().probesAnswered.load();
  Start();
  for (const std::string& address : all) ASSERT_TRUE(ProbedAfter(address, 0)) << address;
  ProbeRound(all);
  for (const std::string& address : live) {
    EXPECT_TRUE(Record(address).on) << address;
    EXPECT_TRUE(ReportsReach(msg::keepalive::WM_KEEPALIVE_START, address, 1)) << address;
  }
  for (const std::string& address : silent) {
    EXPECT_FALSE(Record(address).on) << address;
    EXPECT_EQ(Reports(msg::keepalive::WM_KEEPALIVE_START, address), 0) << address;
  }
  EXPECT_EQ(GetMetrics().probesSent.load() - sentBefore, 2 * all.size());
  EXPECT_EQ(GetMetrics().probesAnswered.load() - answeredBefore, 2 * live.size());

  // Stopped while silent probes are out; on a machine slow enough to miss their second,
  // once they are over.
  const std::int64_t lastRound = Record(silent.front()).lastProbeTime;
  clock_.AdvanceMonotonicMs(kIntervalMs);
  ASSERT_TRUE(testing_support::Eventually([&] {
    for (const std::string& address : silent) {
      if (Record(address).probeOutstanding != 0) return true;
    }
    return Record(silent.front()).lastProbeTime > lastRound;
  }, 10s));
  keepAlive_.reset();
  for (const std::string& address : all) EXPECT_EQ(Record(address).probeOutstanding, 0) << address;
}

// The trace of each mode: the raw socket's lines, then the datagram socket's, which says
// once per probe that it cannot be had and is tried again at the next probe.
TEST_F(KeepAliveTest, PingModesTraceTheirProbesAndTheDatagramSocketIsTriedAgain) {
  CloseSyslog();  // the log's own socket holds port 514 until then
  auto collector = std::make_unique<testing_support::UdpCollector>(1);  // the one loopback address left
  dir_.Write("syslog.ini", collector->SyslogIni());
  SetLogThreshold(7);
  PrivateNetwork::AddAddress("127.0.0.10");
  Register("127.0.0.10");
  Register("127.0.0.14");  // no route: the request never leaves
  Start();
  ASSERT_TRUE(ProbedAfter("127.0.0.10", 0));
  ASSERT_TRUE(ProbedAfter("127.0.0.14", 0));
  keepAlive_.reset();
  const auto Traces = [&] {
    std::vector<std::string> traces;
    for (const std::string& text : testing_support::LogTexts(collector->Drain(), "")) {
      if (text.starts_with("I transmitted") || text.starts_with("I received") || text.starts_with("I failed in load")) {
        traces.push_back(text);
      }
    }
    return traces;
  };
  EXPECT_EQ(Traces(), (std::vector<std::string>{"I transmitted PING to GW(127.0.0.10).",
                                                "I received a PING reply of GW(127.0.0.10)."}));

  dir_.Write("Velnor.ini", "[PING]\r\nMODE=dll\r\n");
  PrivateNetwork::PingGroupRange("1 0");
  GetGwDataList().RemoveAll(false);
  Register("127.0.0.10");
  Start();
  ASSERT_TRUE(ProbedAfter("127.0.0.10", 0));
  PrivateNetwork::PingGroupRange("0 2147483647");
  ProbeRound({"127.0.0.10"});
  ASSERT_TRUE(ReportsReach(msg::keepalive::WM_KEEPALIVE_START, "127.0.0.10", 2));
  keepAlive_.reset();
  EXPECT_EQ(Traces(), (std::vector<std::string>{"I failed in load of an ICMP.DLL library.",
                                                "I transmitted PING to GW(127.0.0.10).",
                                                "I received a PING reply of GW(127.0.0.10)."}));
  CloseSyslog();
}

}  // namespace
