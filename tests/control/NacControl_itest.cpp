#include "control/NacControl.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ThreadMessages.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/ManualClock.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/StopLines.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string>& kStopLines = testing_support::kControllerStopLines;

std::size_t ThreadCount() {
  std::size_t count = 0;
  DIR* dir = ::opendir("/proc/self/task");
  while (dir != nullptr && ::readdir(dir) != nullptr) ++count;
  if (dir != nullptr) ::closedir(dir);
  return count;
}

class NacControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
    CloseSyslog();
    SetLogThreshold(7);
  }
  void TearDown() override { CloseSyslog(); }

  // Stops the controller as the service does and gives its stop lines in the order logged.
  std::vector<std::string> Stop(std::unique_ptr<CNacControl>& controller) {
    controller->SetEndFlag();
    EXPECT_TRUE(platform::PostToThread(controller->ThreadId(), platform::kQuitMessage, 0, 0));
    controller->WaitForEnd();
    controller.reset();
    std::vector<std::string> stopLines;
    for (const std::string& text : testing_support::LogTexts(collector_->Drain(50ms), "")) {
      if (std::find(kStopLines.begin(), kStopLines.end(), text) != kStopLines.end()) stopLines.push_back(text);
    }
    return stopLines;
  }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
};

TEST_F(NacControlTest, StartFinishesBeforeTheConstructorReturnsAndStopLogsInOrder) {
  auto controller = std::make_unique<CNacControl>();
  const std::vector<std::string> started = testing_support::LogTexts(collector_->Drain(50ms), "");
  EXPECT_NE(std::find(started.begin(), started.end(), "Start processing was finished."), started.end());
  EXPECT_EQ(Stop(controller), kStopLines);
}

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

TEST_F(NacControlTest, StartLogsTheLoadedPortAndTheConsole) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=18123\r\n");
  auto controller = std::make_unique<CNacControl>();
  EXPECT_EQ(testing_support::LogTexts(collector_->Drain(50ms), ""),
            (std::vector<std::string>{"I succeeded in reading of SERVICE data.",
                                      "I succeeded in making of a COMMAND thread.",
                                      "I succeeded in making of a KEEP ALIVE thread.",
                                      "Start processing was finished."}));
  EXPECT_EQ(Stop(controller), kStopLines);
}

TEST_F(NacControlTest, AConsoleThatCannotStartStopsTheController) {
  dir_.Write("Velnor.ini", "[SERVICE]\r\nPORT=abc\r\n");
  auto controller = std::make_unique<CNacControl>();
  controller->WaitForEnd();  // nobody else asks it to stop
  EXPECT_EQ(controller->ExitStatus(), CNacControl::kExitBadSetting);
  std::vector<std::string> expected{"Velnor.ini: PORT=abc in section SERVICE is not a port from 1 to 65535; the service stops.",
                                    "I succeeded in making of a COMMAND thread.",
                                    "I succeeded in making of a KEEP ALIVE thread.", "Start processing was finished."};
  expected.insert(expected.end(), kStopLines.begin(), kStopLines.end());
  EXPECT_EQ(testing_support::LogTexts(collector_->Drain(50ms), ""), expected);
}

TEST_F(NacControlTest, GatewayReportsReachTheKeepAliveThreadsAndNoThreadOutlivesTheStop) {
  if (!testing_support::PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  testing_support::PrivateNetwork::AddAddress("10.11.0.1");
  testing_support::ManualClock clock;
  auto* gateway = new CGwData();
  gateway->addressText = "10.11.0.1";
  ParseIPv4Value("10.11.0.1", gateway->address);
  ASSERT_EQ(GetGwDataList().AddUnique(gateway), 0);
  const std::size_t before = ThreadCount();

  auto controller = std::make_unique<CNacControl>();
  EXPECT_TRUE(collector_->Until("KeepAlive start event addition of GW(10.11.0.1).", 3s));
  testing_support::PrivateNetwork::RemoveAddress("10.11.0.1");
  for (int failure = 0; failure < 4; ++failure) {
    clock.Advance(10);
    std::this_thread::sleep_for(400ms);
  }
  EXPECT_TRUE(collector_->Until("KeepAlive stop event addition of GW(10.11.0.1).", 3s));
  EXPECT_EQ(Stop(controller), kStopLines);
  EXPECT_EQ(ThreadCount(), before);
  GetGwDataList().RemoveAll(false);
}

}  // namespace
