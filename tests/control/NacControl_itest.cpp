// The controller in-process: what its start reads and makes, what its stop logs, and where
// the keep-alive's reports go.
#include "control/NacControl.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "msgthread/RegisteredMessages.h"
#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/Eventually.h"
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

class NacControlTest : public ::testing::Test {
 protected:
  void SetUp() override { collector_->TakeTheLog("debug"); }
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
  EXPECT_EQ(Flags<CGwData>(GetGwDataList()), ";;");
  std::string routes;
  for (CGwData* gateway : testing_support::Records<CGwData>(GetGwDataList())) {
    routes += Flags<CGwrouteData>(gateway->Routes());
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

// Without registry files only the port is read, and the whole start is done when the
// constructor returns. The keep-alive's reports, posted as its scheduler posts them, each
// reach the thread of their kind (for a gateway that is not registered: its reset and drop
// find nothing). The stop logs its lines in order and leaves no thread behind.
TEST_F(NacControlTest, WithoutRegistryFilesTheStartReadsThePortAndReportsReachTheirThreads) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=18123\r\n");
  const std::size_t before = ThreadCount();
  auto controller = std::make_unique<CNacControl>();
  EXPECT_EQ(Logged(), (std::vector<std::string>{
                          "I succeeded in reading of SERVICE data.", "I succeeded in making of a COMMAND thread.",
                          "I succeeded in making of a HTTP CLIENT thread.",
                          "I succeeded in making of a KEEP ALIVE thread.", "Start processing was finished."}));
  const std::uint32_t address = ::inet_addr("10.11.0.1");
  ASSERT_TRUE(platform::PostToThread(controller->ThreadId(), msg::keepalive::WM_KEEPALIVE_START, address, 0));
  ASSERT_TRUE(platform::PostToThread(controller->ThreadId(), msg::keepalive::WM_KEEPALIVE_STOP, address, 0));
  EXPECT_TRUE(collector_->Until("KeepAlive start event addition of GW(10.11.0.1).", 10s));
  EXPECT_TRUE(collector_->Until("KeepAlive stop event addition of GW(10.11.0.1).", 10s));
  EXPECT_EQ(Stop(controller), kStopLines);
  EXPECT_EQ(ThreadCount(), before);
}

// A batch through the console: PCs added and withdrawn between two walks leave no record
// behind. The PCs of the file make each walk long, so that one takes many lines at once.
TEST_F(NacControlTest, ABatchPipedInLeavesNoWithdrawnRecordBehind) {
  constexpr int kLoaded = 20000;
  std::string pcs;
  for (int i = 0; i < kLoaded; ++i) {
    char line[48];
    std::snprintf(line, sizeof line, "\"02:00:01:00:%02x:%02x\",\"\",\"\",\"\"\r\n", i >> 8, i & 0xff);
    pcs += line;
  }
  dir_.Write("pc.csv", pcs);
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=18125\r\n");
  auto controller = std::make_unique<CNacControl>();
  testing_support::ConsoleClient console(18125);
  ASSERT_EQ(console.ReadPrompt(10s), "$ ");
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "pc add source-mac 02:00:00:00:00:01\npc del source-mac 02:00:00:00:00:01\n";
  ASSERT_TRUE(console.Send(lines));
  for (int i = 0; i < 6000; ++i) ASSERT_EQ(console.ReadPrompt(30s), "$ ");
  EXPECT_TRUE(testing_support::Eventually([] { return GetPcDataList().GetCount(false) == kLoaded; }))
      << GetPcDataList().GetCount(false) << " PCs left";
  EXPECT_EQ(Stop(controller), kStopLines);
}

}  // namespace
