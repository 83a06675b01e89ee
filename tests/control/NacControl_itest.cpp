#include "control/NacControl.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "control/RegisteredMessages.h"
#include "platform/ThreadMessages.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::LogTexts;
using testing_support::TempDir;
using testing_support::UdpCollector;
using namespace std::chrono_literals;

constexpr char kStartFinished[] = "Start processing was finished.";
constexpr char kStopDemand[] = "CNacControl::MsgProc: I received a service stop demand.";

const std::vector<std::string> kStopLines = {
    kStopDemand,
    "I generated an end event of an KeepAlive.",
    "An KeepAlive was finished normally.",
    "I generated an end event of an KeepAliveStart.",
    "An KeepAliveStart was finished normally.",
    "I generated an end event of an KeepAliveStop.",
    "An KeepAliveStop was finished normally.",
    "I generated an end event of an HTTP client.",
    "An HTTP client was finished normally.",
    "I generated an end event of an command server.",
    "An command server was finished normally.",
};

std::vector<std::string> Texts(const std::vector<std::string>& datagrams) { return LogTexts(datagrams, ""); }

// The lines among texts that are stop lines of the controller, in the order logged; the
// children's own lines may stand between them.
std::vector<std::string> StopLinesIn(const std::vector<std::string>& texts) {
  std::vector<std::string> found;
  for (const std::string& text : texts) {
    if (std::find(kStopLines.begin(), kStopLines.end(), text) != kStopLines.end()) found.push_back(text);
  }
  return found;
}

bool AnyContains(const std::vector<std::string>& texts, const std::string& part) {
  return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

std::vector<uint32_t> ThreadsOfThisProcess() {
  std::vector<uint32_t> ids;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return ids;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ids.push_back(static_cast<uint32_t>(std::stoul(entry->d_name)));
  }
  closedir(dir);
  return ids;
}

// Threads whose nice value is that of this thread plus steps * 5 (one step below normal: 5).
std::set<uint32_t> ThreadsBelowNormal(int steps) {
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  const int wanted = std::min(base + steps * 5, 19);
  std::set<uint32_t> found;
  for (uint32_t id : ThreadsOfThisProcess()) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id);
    if (errno == 0 && nice == wanted) found.insert(id);
  }
  return found;
}

// Every test logs everything to a collector of its own through a syslog.ini in a fresh
// directory that holds no registry files.
class NacControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    collector_ = UdpCollector::OnFreeAddress();
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
    CloseSyslog();
    SetLogThreshold(7);
  }
  void TearDown() override { CloseSyslog(); }

  // Stops the controller as the service does: quit message, then the wait for its thread.
  static void StopAsTheServiceDoes(std::unique_ptr<CNacControl>& controller) {
    controller->SetEndFlag();
    ASSERT_TRUE(platform::PostThreadMessage(controller->ThreadId(), platform::WM_QUIT, 0, 0));
    controller->WaitForEnd();
    controller.reset();
  }

  TempDir dir_;
  std::unique_ptr<UdpCollector> collector_;
};

TEST_F(NacControlTest, ConstructionLogsTheEndOfTheStartWorkBeforeReturning) {
  auto controller = std::make_unique<CNacControl>();
  // Sent before the constructor returned, so it is waiting already.
  const std::vector<std::string> texts = Texts(collector_->Drain(50ms));
  EXPECT_TRUE(AnyContains(texts, kStartFinished));
  EXPECT_FALSE(AnyContains(texts, kStopDemand));
  EXPECT_FALSE(AnyContains(texts, "I failed")) << "no step of the start may fail here";
  EXPECT_NE(controller->ThreadId(), 0u);
  EXPECT_NE(controller->ThreadId(), platform::CurrentThreadId());
  EXPECT_FALSE(controller->EndFlag());
  StopAsTheServiceDoes(controller);
}

TEST_F(NacControlTest, ServiceStopLogsTheStopLinesInOrder) {
  auto controller = std::make_unique<CNacControl>();
  ASSERT_TRUE(collector_->Until(kStartFinished, 2s).has_value());
  StopAsTheServiceDoes(controller);

  // Everything was logged before the controller's thread ended.
  const std::vector<std::string> texts = Texts(collector_->Drain(50ms));
  EXPECT_EQ(StopLinesIn(texts), kStopLines);
  EXPECT_FALSE(AnyContains(texts, "An error occurred")) << "the destructor must not post to a thread that ended";
}

TEST_F(NacControlTest, DestroyingARunningControllerStopsItInOrder) {
  auto controller = std::make_unique<CNacControl>();
  ASSERT_TRUE(collector_->Until(kStartFinished, 2s).has_value());
  controller.reset();

  const std::vector<std::string> texts = Texts(collector_->Drain(50ms));
  EXPECT_EQ(StopLinesIn(texts), kStopLines);
  EXPECT_FALSE(AnyContains(texts, "An error occurred"));
}

// Messages of the children that the controller takes no action on, and messages nobody
// registered, are consumed; the controller runs on and still stops in order.
TEST_F(NacControlTest, IgnoredMessagesLeaveTheControllerRunning) {
  auto controller = std::make_unique<CNacControl>();
  ASSERT_TRUE(collector_->Until(kStartFinished, 2s).has_value());
  const uint32_t id = controller->ThreadId();
  for (uint32_t message : {msg::cmd::WM_SERVER_ERROR, msg::cmd::WM_SERVER_EXIT, msg::cmd::WM_PROTOCOL_ERROR,
                           msg::cmd::WM_PROTOCOL_EXIT, msg::cmd::WM_PROTOCOL_CONNECT, msg::cmd::WM_PROTOCOL_SEND,
                           msg::httpclient::WM_HTTPCLIENT_ERROR, msg::keepalive::WM_KEEPALIVE_EXIT, 0u,
                           platform::WM_TIMER, platform::RegisterWindowMessage("NACTEST:WM_NOBODY")}) {
    ASSERT_TRUE(platform::PostThreadMessage(id, message, 1, 2)) << message;
  }
  EXPECT_FALSE(AnyContains(Texts(collector_->Drain(150ms)), kStopDemand));
  EXPECT_TRUE(platform::PostThreadMessage(id, 0, 0, 0)) << "the controller's loop must still run";

  StopAsTheServiceDoes(controller);
  EXPECT_EQ(StopLinesIn(Texts(collector_->Drain(50ms))), kStopLines);
}

// The keep-alive start and stop threads run one step below normal and leave on their own,
// within about one 100 ms wait, once the end flag is set: nothing else needs to wake them.
TEST_F(NacControlTest, EndFlagEndsTheKeepAliveThreadsPromptly) {
  const std::size_t threadsBefore = ThreadsOfThisProcess().size();
  const std::set<uint32_t> lowBefore = ThreadsBelowNormal(1);
  auto controller = std::make_unique<CNacControl>();
  std::set<uint32_t> low = ThreadsBelowNormal(1);
  for (uint32_t id : lowBefore) low.erase(id);
  ASSERT_GE(low.size(), 2u) << "the two keep-alive threads run one step below normal";
  const std::size_t threadsRunning = ThreadsOfThisProcess().size();
  ASSERT_GE(threadsRunning, threadsBefore + 3);

  const auto flagged = std::chrono::steady_clock::now();
  controller->SetEndFlag();
  EXPECT_TRUE(controller->EndFlag());
  const auto deadline = flagged + 2s;
  while (ThreadsOfThisProcess().size() > threadsRunning - 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const auto took = std::chrono::steady_clock::now() - flagged;
  EXPECT_EQ(ThreadsOfThisProcess().size(), threadsRunning - 2);
  EXPECT_LT(took, 1s);

  std::set<uint32_t> lowAfter = ThreadsBelowNormal(1);
  for (uint32_t id : lowBefore) lowAfter.erase(id);
  EXPECT_EQ(lowAfter.size(), low.size() - 2) << "the threads that ended are the keep-alive threads";

  // The controller's own thread still takes the quit message and stops in order.
  StopAsTheServiceDoes(controller);
  EXPECT_EQ(StopLinesIn(Texts(collector_->Drain(50ms))), kStopLines);
}

}  // namespace
