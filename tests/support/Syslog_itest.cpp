#include "support/Syslog.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using platform::UniqueFd;
using testing_support::LogText;
using testing_support::RandomLoopbackHost;
using testing_support::TempDir;
using testing_support::UdpCollector;
using namespace std::chrono_literals;

std::string HostName() {
  char name[1024] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

// The datagram for a line sent between two instants: its header is one of the headers of
// the seconds in between.
bool HasHeaderOfAnInstant(const std::string& datagram, int priority, std::time_t from, std::time_t to,
                          const std::string& tag, const std::string& text) {
  for (std::time_t t = from; t <= to; ++t) {
    if (datagram == FormatSyslogHeader(priority, LocalTime(t), HostName(), tag) + text) return true;
  }
  return false;
}

// Two collectors on different loopback addresses: syslog.ini names one of them, so which
// one receives a line tells which syslog.ini the log socket was opened with.
class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::set<int> taken;
    first_ = UdpCollector::OnFreeAddress(&taken);
    second_ = UdpCollector::OnFreeAddress(&taken);
    PointAt(*first_);
    CloseSyslog();
    SetLogThreshold(7);
    OpenSyslog("", 0, 8);
  }
  // The log state is process-wide: every test leaves the initial one behind.
  void TearDown() override {
    SetLogThreshold(7);
    OpenSyslog("", 0, 8);
    CloseSyslog();
  }

  void PointAt(const UdpCollector& collector, const std::string& mask = "debug") {
    dir_.Write("syslog.ini", collector.SyslogIni(mask));
  }

  TempDir dir_;
  std::unique_ptr<UdpCollector> first_;
  std::unique_ptr<UdpCollector> second_;
};

TEST_F(SyslogTest, LineAboveTheThresholdSendsNothingAndOpensNoSocket) {
  EXPECT_EQ(SetLogThreshold(6), 7);
  EXPECT_EQ(SyslogSend(7, "debug line %d", 1), 0);
  EXPECT_FALSE(first_->Next(100ms).has_value());

  // Had the dropped line opened the socket, the next line would still go to the first
  // collector; a socket opened only now reads the changed syslog.ini.
  PointAt(*second_);
  EXPECT_GT(SyslogSend(6, "info line"), 0);
  const std::optional<std::string> datagram = second_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram, ""), "info line");
  EXPECT_FALSE(first_->Next(50ms).has_value());
}

TEST_F(SyslogTest, LineAtTheThresholdArrivesAsOneDatagram) {
  SetLogThreshold(6);
  const int sent = SyslogSend(6, "service %s.", "started");
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram, ""), "service started.");
  EXPECT_EQ(sent, static_cast<int>(datagram->size()));
  EXPECT_TRUE(first_->Drain(50ms).empty());
}

TEST_F(SyslogTest, ThresholdComparesOnlyTheLevelBits) {
  SetLogThreshold(6);
  OpenSyslog("Velnor", 32, 24);
  EXPECT_EQ(SyslogSend(16 | 7, "dropped"), 0);
  EXPECT_GT(SyslogSend(16 | 6, "kept"), 0);
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  // A priority that carries a facility keeps it instead of the opened one.
  EXPECT_EQ(datagram->rfind("<22>", 0), 0u) << *datagram;
  EXPECT_EQ(LogText(*datagram), "kept");
  EXPECT_TRUE(first_->Drain(50ms).empty());
}

TEST_F(SyslogTest, FacilityOfOpenSyslogIsCombinedWithThePriority) {
  OpenSyslog("Velnor", 32, 24);
  SyslogSend(2, "critical");
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->rfind("<26>", 0), 0u) << *datagram;
  EXPECT_EQ(LogText(*datagram), "critical");
}

TEST_F(SyslogTest, HeaderHasTheFixedLayout) {
  std::tm when{};
  when.tm_year = 2023 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 4;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  EXPECT_EQ(FormatSyslogHeader(30, when, "host", "Velnor"), "<30>Dec 04 09:05:07 host Velnor: ");
  EXPECT_EQ(FormatSyslogHeader(30, when, "host", ""), "<30>Dec 04 09:05:07 host ");

  when.tm_mday = 31;
  when.tm_hour = 23;
  when.tm_min = 59;
  when.tm_sec = 59;
  EXPECT_EQ(FormatSyslogHeader(191, when, "h", "t"), "<191>Dec 31 23:59:59 h t: ");
  when.tm_mday = 1;
  when.tm_hour = 0;
  when.tm_min = 0;
  when.tm_sec = 0;
  EXPECT_EQ(FormatSyslogHeader(8, when, "h", "t"), "<8>Dec 01 00:00:00 h t: ");
}

TEST_F(SyslogTest, HeaderNamesEveryMonthInEnglish) {
  const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm when{};
  when.tm_mday = 4;
  for (int month = 0; month < 12; ++month) {
    when.tm_mon = month;
    EXPECT_EQ(FormatSyslogHeader(14, when, "h", ""), std::string("<14>") + months[month] + " 04 00:00:00 h ");
  }
}

TEST_F(SyslogTest, DatagramCarriesLocalTimeHostAndTag) {
  OpenSyslog("Velnor", 32, 24);
  const std::time_t before = std::time(nullptr);
  SyslogSend(6, "service %s.", "started");
  const std::time_t after = std::time(nullptr);
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_TRUE(HasHeaderOfAnInstant(*datagram, 30, before, after, "Velnor", "service started.")) << *datagram;
  EXPECT_EQ(datagram->find('\n'), std::string::npos);
  EXPECT_EQ(datagram->find('\0'), std::string::npos);
}

TEST_F(SyslogTest, EmptyTagPutsTheTextRightAfterTheHost) {
  const std::time_t before = std::time(nullptr);
  SyslogSend(6, "plain");
  const std::time_t after = std::time(nullptr);
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_TRUE(HasHeaderOfAnInstant(*datagram, 14, before, after, "", "plain")) << *datagram;
  const std::string ending = " " + HostName() + " plain";
  ASSERT_GE(datagram->size(), ending.size());
  EXPECT_EQ(datagram->substr(datagram->size() - ending.size()), ending);
}

TEST_F(SyslogTest, OpenSyslogWithAnInvalidFacilityChangesNothing) {
  OpenSyslog("Velnor", 32, 24);
  // Had any of these been taken, option 8 would have opened the socket towards the
  // second collector, and the tag and facility would have changed.
  PointAt(*second_);
  for (int facility : {25, 1, 96, 120, 192, -8}) OpenSyslog("Other", 8, facility);
  PointAt(*first_);

  SyslogSend(6, "unchanged");
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->rfind("<30>", 0), 0u) << *datagram;
  EXPECT_EQ(LogText(*datagram, "Velnor"), "unchanged");
  EXPECT_FALSE(second_->Next(50ms).has_value());
}

TEST_F(SyslogTest, OptionEightOpensTheSocketAtOnce) {
  OpenSyslog("Velnor", 8, 24);
  PointAt(*second_);
  SyslogSend(6, "where");
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram), "where");
  EXPECT_FALSE(second_->Next(50ms).has_value());
}

TEST_F(SyslogTest, EveryValidFacilityIsAccepted) {
  for (int facility : {0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 128, 136, 144, 152, 160, 168, 176, 184}) {
    OpenSyslog("F", 32, facility);
    SyslogSend(3, "facility %d", facility);
    const std::optional<std::string> datagram = first_->Next();
    ASSERT_TRUE(datagram.has_value()) << facility;
    EXPECT_EQ(datagram->rfind("<" + std::to_string(facility | 3) + ">", 0), 0u) << *datagram;
    EXPECT_EQ(LogText(*datagram, "F"), "facility " + std::to_string(facility));
  }
}

TEST_F(SyslogTest, ChangedDestinationTakesEffectOnlyAfterClose) {
  SyslogSend(6, "one");
  ASSERT_TRUE(first_->Next().has_value());

  PointAt(*second_);
  SyslogSend(6, "two");
  const std::optional<std::string> stillFirst = first_->Next();
  ASSERT_TRUE(stillFirst.has_value()) << "an open socket keeps its destination";
  EXPECT_EQ(LogText(*stillFirst, ""), "two");

  CloseSyslog();
  SyslogSend(6, "three");
  const std::optional<std::string> nowSecond = second_->Next();
  ASSERT_TRUE(nowSecond.has_value());
  EXPECT_EQ(LogText(*nowSecond, ""), "three");
  EXPECT_FALSE(first_->Next(50ms).has_value());
}

TEST_F(SyslogTest, FailedOpeningIsRetriedByTheNextLine) {
  dir_.Write("syslog.ini", "[SYSLOG]\r\nDESTINATION=collector.example\r\n");
  EXPECT_EQ(SyslogSend(6, "lost"), -1);
  EXPECT_EQ(SyslogSend(6, "lost again"), -1);

  PointAt(*first_);
  EXPECT_GT(SyslogSend(6, "found"), 0);
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram, ""), "found");
}

TEST_F(SyslogTest, MissingSyslogIniSendsToLocalhost) {
  // Only the default destination 127.0.0.1 reaches this collector.
  std::unique_ptr<UdpCollector> local;
  try {
    local = std::make_unique<UdpCollector>(1);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "127.0.0.1:514 is taken outside a network namespace of this test";
  }
  std::remove(dir_.File("syslog.ini").c_str());
  SyslogSend(6, "default");
  const std::optional<std::string> datagram = local->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram, ""), "default");
}

TEST_F(SyslogTest, OverlongTextIsCutAndSentAsOneDatagram) {
  OpenSyslog("Velnor", 32, 24);
  const std::string text(3000, 'x');
  const int sent = SyslogSend(6, "%s", text.c_str());
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  // The caller's text is formatted into a 1024-character buffer: 1023 characters and the
  // terminator.
  EXPECT_EQ(LogText(*datagram), std::string(1023, 'x'));
  EXPECT_EQ(sent, static_cast<int>(datagram->size()));
  EXPECT_FALSE(first_->Next(50ms).has_value());
}

// A receiver of its own that records each datagram's source port, with a receive buffer
// large enough to hold a burst from many threads.
class PortRecordingReceiver {
 public:
  explicit PortRecordingReceiver(std::set<int>& taken) {
    for (int attempt = 0; attempt < 20 && !socket_; ++attempt) {
      address_ = "127.0.0." + std::to_string(RandomLoopbackHost(&taken));
      UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      const int size = 4 * 1024 * 1024;
      ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
      ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(514);
      inet_pton(AF_INET, address_.c_str(), &addr.sin_addr);
      if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) socket_ = std::move(fd);
    }
    if (!socket_) throw std::runtime_error("no free loopback address for a receiver");
  }

  const std::string& Address() const { return address_; }

  std::optional<std::pair<std::string, int>> Next(std::chrono::milliseconds timeout) {
    pollfd p{socket_.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(socket_.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    return std::make_pair(std::string(buffer, static_cast<std::size_t>(n)), ntohs(from.sin_port));
  }

 private:
  UniqueFd socket_;
  std::string address_;
};

// Many threads log at once, the first of them while the socket is still closed: one socket
// is made, and every line arrives whole in a datagram of its own.
TEST_F(SyslogTest, ConcurrentLinesArriveIntactThroughOneSocket) {
  std::set<int> taken;
  PortRecordingReceiver receiver(taken);
  dir_.Write("syslog.ini", "[SYSLOG]\r\nDESTINATION=" + receiver.Address() + "\r\n");
  OpenSyslog("Velnor", 32, 24);

  constexpr int kThreads = 8;
  constexpr int kLines = 50;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> failedSends{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string payload(100 + t * 10, static_cast<char>('a' + t));
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      for (int line = 0; line < kLines; ++line) {
        if (SyslogSend(6, "thread %d line %d %s", t, line, payload.c_str()) <= 0) failedSends.fetch_add(1);
      }
    });
  }
  while (ready.load() < kThreads) std::this_thread::yield();
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failedSends.load(), 0);

  const std::regex header(R"(<30>[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \S+ Velnor: )");
  std::map<std::pair<int, int>, int> lines;
  std::set<int> ports;
  int received = 0;
  while (auto datagram = receiver.Next(received < kThreads * kLines ? 2000ms : 50ms)) {
    ++received;
    ports.insert(datagram->second);
    const std::string& d = datagram->first;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(d, match, header, std::regex_constants::match_continuous)) << d;
    int t = -1, line = -1;
    ASSERT_EQ(std::sscanf(d.c_str() + match.length(), "thread %d line %d", &t, &line), 2) << d;
    ASSERT_TRUE(t >= 0 && t < kThreads && line >= 0 && line < kLines) << d;
    const std::string expected = "thread " + std::to_string(t) + " line " + std::to_string(line) + " " +
                                 std::string(100 + t * 10, static_cast<char>('a' + t));
    EXPECT_EQ(d.substr(static_cast<std::size_t>(match.length())), expected);
    ++lines[{t, line}];
  }
  EXPECT_EQ(received, kThreads * kLines);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& [key, count] : lines) EXPECT_EQ(count, 1) << key.first << "/" << key.second;
  EXPECT_EQ(ports.size(), 1u) << "more than one log socket was made";
}

// Closing while other threads log must neither crash nor garble a line, and the next line
// opens the socket again.
TEST_F(SyslogTest, CloseWhileLoggingIsSafe) {
  std::atomic<bool> go{false};
  std::atomic<int> loggersLeft{3};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&go, &loggersLeft, t] {
      while (!go.load()) std::this_thread::yield();
      for (int line = 0; line < 500; ++line) SyslogSend(7, "busy %d %d", t, line);
      loggersLeft.fetch_sub(1);
    });
  }
  go.store(true);
  do {
    CloseSyslog();
    std::this_thread::sleep_for(1ms);
  } while (loggersLeft.load() > 0);
  for (std::thread& thread : threads) thread.join();

  const std::regex busy(R"(<15>[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \S+ busy [0-2] \d{1,3})");
  for (const std::string& datagram : first_->Drain(50ms)) {
    EXPECT_TRUE(std::regex_match(datagram, busy)) << datagram;
  }
  SyslogSend(6, "after");
  const std::optional<std::string> datagram = first_->Next();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(LogText(*datagram, ""), "after");
}

}  // namespace
