#include "support/Syslog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::LogText;
using testing_support::TempDir;
using testing_support::UdpCollector;
using namespace std::chrono_literals;

// Two collectors: syslog.ini names one, so which one receives a line tells which syslog.ini
// the log socket was opened with. The log state is process-wide, so each test resets it.
class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = UdpCollector::OnFreeAddress();
    second_ = UdpCollector::OnFreeAddress();
    PointAt(*first_);
    CloseSyslog();
    SetLogThreshold(7);
    OpenSyslog("", 0, 8);
  }
  void TearDown() override {
    SetLogThreshold(7);
    OpenSyslog("", 0, 8);
    CloseSyslog();
  }
  void PointAt(const UdpCollector& collector) { dir_.Write("syslog.ini", collector.SyslogIni("debug")); }

  TempDir dir_;
  std::unique_ptr<UdpCollector> first_, second_;
};

// A line goes whole in one datagram, cut to 1023 characters; levels above the threshold are
// dropped. The result is the datagram's size.
TEST_F(SyslogTest, ThresholdAndOverlongLines) {
  SetLogThreshold(6);
  EXPECT_EQ(SyslogSend(7, "debug line"), 0);
  for (const std::string& text : {std::string("service started."), std::string(3000, 'x')}) {
    const int sent = SyslogSend(6, "%s", text.c_str());
    const auto datagram = first_->Next();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(LogText(*datagram, ""), text.substr(0, 1023));
    EXPECT_EQ(sent, static_cast<int>(datagram->size()));
  }
  EXPECT_TRUE(first_->Drain(50ms).empty()) << "the debug line was sent, or a long one in pieces";
}

TEST_F(SyslogTest, FacilityCombinesWithPriorityAndAnInvalidOneChangesNothing) {
  OpenSyslog("Velnor", 32, 24);
  PointAt(*second_);  // had the invalid call been taken, option 8 would open towards here
  OpenSyslog("Other", 8, 25);
  PointAt(*first_);
  SyslogSend(2, "critical");
  const auto datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->rfind("<26>", 0), 0u) << *datagram;
  EXPECT_EQ(LogText(*datagram, "Velnor"), "critical");
  EXPECT_FALSE(second_->Next(50ms).has_value());
}

TEST(SyslogHeaderTest, HasTheFixedLayout) {
  std::tm when{};
  when.tm_year = 123, when.tm_mon = 11, when.tm_mday = 4, when.tm_hour = 9, when.tm_min = 5, when.tm_sec = 7;
  EXPECT_EQ(FormatSyslogHeader(30, when, "host", "Velnor"), "<30>Dec 04 09:05:07 host Velnor: ");
  EXPECT_EQ(FormatSyslogHeader(30, when, "host", ""), "<30>Dec 04 09:05:07 host ");
}

TEST_F(SyslogTest, DestinationIsReadAgainOnlyAfterClose) {
  const struct {
    bool closeFirst;
    UdpCollector* receiver;
  } sends[] = {{false, first_.get()}, {false, first_.get()}, {true, second_.get()}};
  for (const auto& send : sends) {
    if (send.closeFirst) CloseSyslog();
    SyslogSend(6, "line");
    const auto datagram = send.receiver->Next();
    ASSERT_TRUE(datagram.has_value()) << "an open socket keeps its destination";
    EXPECT_EQ(LogText(*datagram, ""), "line");
    PointAt(*second_);
  }
  EXPECT_FALSE(first_->Next(50ms).has_value());
}

// The first lines come while the socket is still closed: one socket must be made, and each
// line must arrive whole in a datagram of its own.
TEST_F(SyslogTest, ConcurrentLinesArriveIntactThroughOneSocket) {
  OpenSyslog("Velnor", 32, 24);
  constexpr int kThreads = 8, kLines = 50;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go] {
      while (!go.load()) std::this_thread::yield();
      for (int line = 0; line < kLines; ++line) SyslogSend(6, "t%d l%d %s", t, line, std::string(100, 'a' + t).c_str());
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();

  const std::regex shape(R"(<30>[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \S+ Velnor: t(\d) l(\d+) ([a-h]{100}))");
  std::set<std::string> lines;
  std::set<std::uint16_t> ports;
  std::uint16_t port = 0;
  while (const auto datagram = first_->Next(1s, &port)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(*datagram, m, shape)) << *datagram;
    EXPECT_EQ(m[3].str(), std::string(100, static_cast<char>('a' + std::stoi(m[1].str())))) << *datagram;
    EXPECT_TRUE(lines.insert(m[1].str() + "/" + m[2].str()).second) << "twice: " << *datagram;
    ports.insert(port);
  }
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  EXPECT_EQ(ports.size(), 1u) << "more than one log socket was made";
}

}  // namespace
