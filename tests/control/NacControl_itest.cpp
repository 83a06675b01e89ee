#include "control/NacControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/ManualClock.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/RecordDump.h"
#include "tests/common/StopLines.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Flags;

const std::vector<std::string>& kStopLines = testing_support::kControllerStopLines;

std::size_t ThreadCount() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
}

// The end of every start that gets as far as making the threads.
const std::vector<std::string> kThreadsMade = {
    "I succeeded in making of a COMMAND thread.", "I succeeded in making of a HTTP CLIENT thread.",
    "I succeeded in making of a KEEP ALIVE thread.", "Start processing was finished."};

class NacControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
    CloseSyslog();
    SetLogThreshold(7);
  }
  void TearDown() override {
    CloseSyslog();
    GetGwDataList().RemoveAll(false);
    GetPcDataList().RemoveAll(false);
    GetQuarantineDataList().RemoveAll(false);
  }
  std::vector<std::string> Logged() { return testing_support::LogTexts(collector_->Drain(50ms), ""); }
  // The four registry files: two gateways with a route each, two PCs and a server.
  void WriteRegistryFiles() {
    dir_.Write("gw.csv", "\"127.0.10.1\",880,\"admin\",\"tovin\"\r\n\"127.0.10.2\",8080,\"op\",\"pw\"\r\n");
    dir_.Write("gwroute.csv", "\"127.0.10.2\",,\"192.168.0.0\",\"255.255.255.0\"\r\n"
                              "\"127.0.10.1\",\"eth1\",\"10.0.0.0\",\"255.0.0.0\"\r\n");
    dir_.Write("pc.csv", "\"00:11:22:33:44:55\",\"192.168.0.1\",\"\",\"\"\r\n"
                         "\"\",,\"192.168.1.0\",\"255.255.255.0\"\r\n");
    dir_.Write("quarantine.csv", "\"172.17.254.254\",\"tcp\",\"4208\"\r\n");
  }

  // Stops the controller as the service does and gives its stop lines in the order logged.
  std::vector<std::string> Stop(std::unique_ptr<CNacControl>& controller) {
    controller->SetEndFlag();
    EXPECT_TRUE(platform::PostToThread(controller->ThreadId(), platform::kQuitMessage, 0, 0));
    controller->WaitForEnd();
    controller.reset();
    std::vector<std::string> stopLines;
    for (std::string text : Logged()) {
      // A sender may still be bound to a loaded gateway that answered its first probe.
      if (text.starts_with("I delete a queue of an HTTP client thread.")) text = text.substr(0, 48) + " GW(0.0.0.0:0).";
      if (std::find(kStopLines.begin(), kStopLines.end(), text) != kStopLines.end()) stopLines.push_back(text);
    }
    return stopLines;
  }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
};

TEST_F(NacControlTest, EndFlagEndsTheKeepAliveThreadsPromptly) {
  auto controller = std::make_unique<CNacControl>();
  ASSERT_TRUE(collector_->Until("Start processing was finished.", 2s).has_value());
  const std::size_t running = ThreadCount();
  const auto flagged = std::chrono::steady_clock::now();
  controller->SetEndFlag();
  while (ThreadCount() > running - 2 && std::chrono::steady_clock::now() < flagged + 2s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(ThreadCount(), running - 2) << "the keep-alive start and stop threads";
  EXPECT_LT(std::chrono::steady_clock::now() - flagged, 1s);
  EXPECT_EQ(Stop(controller), kStopLines);
}

// Without registry files only the port is read; the whole start is done when the
// constructor returns, and the stop logs its lines in order.
TEST_F(NacControlTest, WithoutRegistryFilesTheStartReadsThePortAndStartsTheRest) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=18123\r\n");
  auto controller = std::make_unique<CNacControl>();
  std::vector<std::string> expected{"I succeeded in reading of SERVICE data."};
  expected.insert(expected.end(), kThreadsMade.begin(), kThreadsMade.end());
  EXPECT_EQ(Logged(), expected);
  EXPECT_EQ(Stop(controller), kStopLines);
}

// Nothing read from a file counts as a new change.
TEST_F(NacControlTest, TheStartReadsTheFourFilesAndClearsTheAddedFlags) {
  WriteRegistryFiles();
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=18124\r\n");
  auto controller = std::make_unique<CNacControl>();
  std::vector<std::string> started = Logged();
  started.resize(5);
  EXPECT_EQ(started, (std::vector<std::string>{
                         "I succeeded in reading of GW data.", "I succeeded in reading of GWROUTE data.",
                         "I succeeded in reading of PC data.", "I succeeded in reading of QUARANTINE data.",
                         "I succeeded in reading of SERVICE data."}));
  EXPECT_EQ(Stop(controller), kStopLines);
  CGwDataList& gateways = GetGwDataList();
  EXPECT_EQ(Flags<CGwData>(gateways), ";;");
  std::string routes;
  for (CNacNode* node = gateways.GetHead(false); node != nullptr; node = gateways.GetNext(node, false)) {
    routes += Flags<CGwrouteData>(node->RecordAs<CGwData>()->Routes());
  }
  EXPECT_EQ(routes, ";;");
  EXPECT_EQ(Flags<CPcData>(GetPcDataList()), ";;");
  EXPECT_EQ(Flags<CQuarantineData>(GetQuarantineDataList()), ";");
}

// A stop demanded before the start work ends it at once: nothing is read or started.
TEST_F(NacControlTest, AStopBeforeTheStartWorkStartsNothing) {
  WriteRegistryFiles();
  std::atomic<int> endFlag{1};
  {
    CNacControl controller(endFlag);
    EXPECT_TRUE(platform::PostToThread(controller.ThreadId(), platform::kQuitMessage, 0, 0));
    controller.WaitForEnd();
  }
  std::vector<std::string> expected{"Start processing was finished."};
  const std::vector<std::string> stop = testing_support::ControllerStopLines(false);
  expected.insert(expected.end(), stop.begin(), stop.end());
  EXPECT_EQ(Logged(), expected);
  EXPECT_TRUE(GetGwDataList().IsEmpty(false) && GetPcDataList().IsEmpty(false));
}

TEST_F(NacControlTest, AConsoleThatCannotStartStopsTheController) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=abc\r\n");
  auto controller = std::make_unique<CNacControl>();
  controller->WaitForEnd();  // nobody else asks it to stop
  EXPECT_EQ(controller->ExitStatus(), CNacControl::kExitBadSetting);
  std::vector<std::string> expected{"Velnor.ini: PORT=abc in section SERVICE is not a port from 1 to 65535; the service stops."};
  expected.insert(expected.end(), kThreadsMade.begin(), kThreadsMade.end());
  expected.insert(expected.end(), kStopLines.begin(), kStopLines.end());
  EXPECT_EQ(Logged(), expected);
}

// Whether the gateway's probe of that calendar second comes to be done within the time-out.
bool ProbedAt(std::uint32_t address, std::int64_t seconds, std::chrono::milliseconds timeout) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
    {
      CGwDataList& gateways = GetGwDataList();
      CNacList::Guard guard(gateways);
      const CGwData* gateway = gateways.FindLive(CGwDataList::AddressKey(address), guard);
      if (gateway != nullptr && gateway->lastProbeTime == seconds && gateway->probeOutstanding == 0) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

TEST_F(NacControlTest, GatewayReportsReachTheKeepAliveThreadsAndNoThreadOutlivesTheStop) {
  if (!testing_support::PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  testing_support::PrivateNetwork::AddAddress("10.11.0.1");
  testing_support::ManualClock clock;
  auto* gateway = new CGwData();
  gateway->addressText = "10.11.0.1";
  ASSERT_TRUE(ParseIPv4Value("10.11.0.1", gateway->address));
  const std::uint32_t address = gateway->address;
  ASSERT_EQ(GetGwDataList().AddUnique(gateway), 0);
  const std::size_t before = ThreadCount();

  auto controller = std::make_unique<CNacControl>();
  EXPECT_TRUE(collector_->Until("KeepAlive start event addition of GW(10.11.0.1).", 10s));
  testing_support::PrivateNetwork::RemoveAddress("10.11.0.1");
  // A probe is due once per advance: the next advance waits for it, or two would make one.
  for (int failure = 0; failure < 4; ++failure) {
    clock.Advance(10);
    ASSERT_TRUE(ProbedAt(address, clock.NowSeconds(), 10s)) << "failure " << failure;
  }
  EXPECT_TRUE(collector_->Until("KeepAlive stop event addition of GW(10.11.0.1).", 10s));
  EXPECT_EQ(Stop(controller), kStopLines);
  EXPECT_EQ(ThreadCount(), before);
}

}  // namespace
