#pragma once

// What the delivery scenarios share: the service's requests for simulated gateways, the log
// lines as the collector received them, and a dispatcher started and stopped as the
// controller does it.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "delivery/NacHttpClient.h"
#include "gwsim/GatewaySimulator.h"
#include "platform/Clock.h"
#include "request/HttpDataList.h"
#include "support/Syslog.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace gwsim {

inline void PrintTo(const ReceivedRequest& request, std::ostream* out) {
  *out << ::testing::PrintToString(request.header + request.body);
}

}  // namespace gwsim

namespace delivery_testing {

using namespace std::chrono_literals;

inline std::uint32_t Address(const std::string& text) { return ::inet_addr(text.c_str()); }

inline std::string Gw(const std::string& address, std::uint16_t port) {
  return "GW(" + address + ":" + std::to_string(port) + ")";
}
inline std::string Gw(const gwsim::GatewaySimulator& gateway) { return Gw(gateway.Address(), gateway.Port()); }

// The rule walks' request number n for a gateway, with a rule of its own.
inline CHttpData Request(const std::string& address, std::uint16_t port, int n) {
  CHttpData request;
  const std::string acl = "add access-list pc accept protocol tcp source 192.168." + std::to_string(n / 250) + "." +
                          std::to_string(n % 250 + 1) + " destination 172.17.254.254/32";
  EXPECT_EQ(CHttpDataList::MakeHttpData(request, "admin", "tovin", 1, CHttpDataList::kClient, CHttpDataList::kSet, 1,
                                        acl.c_str(), address),
            1);
  request.address = Address(address);
  request.port = port;
  return request;
}
inline CHttpData Request(const gwsim::GatewaySimulator& gateway, int n) {
  return Request(gateway.Address(), gateway.Port(), n);
}

// What a gateway should have received: each request once, in order.
inline std::vector<gwsim::ReceivedRequest> AsReceived(const std::vector<CHttpData>& requests) {
  std::vector<gwsim::ReceivedRequest> received;
  for (const CHttpData& request : requests) received.push_back({request.Header(), request.body});
  return received;
}

struct LogLine {
  int priority = -1;
  std::string text;
  std::chrono::steady_clock::time_point at;
};

// Every line the collector has received so far, in arrival order (one sender's lines keep
// their order; loopback does not reorder datagrams).
class LogBook {
 public:
  explicit LogBook(testing_support::UdpCollector& collector) : collector_(collector) {}

  // Waits until at least count lines equal to text at priority have arrived.
  bool Await(int priority, const std::string& text, std::size_t count = 1, std::chrono::milliseconds timeout = 10s) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
      if (Count(priority, text) >= count) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (auto datagram = collector_.Next(left)) Keep(*datagram);
    }
  }
  // Takes in what has arrived, waiting until nothing more comes for quiet.
  const std::vector<LogLine>& Settle(std::chrono::milliseconds quiet = 0ms) {
    for (const std::string& datagram : collector_.Drain(quiet)) Keep(datagram);
    return lines_;
  }
  std::size_t Count(int priority, const std::string& text) {
    Settle();
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const LogLine& line) {
      return line.priority == priority && line.text == text;
    }));
  }
  // The texts, in order, of the lines that contain part.
  std::vector<std::string> Containing(const std::string& part) {
    Settle();
    std::vector<std::string> texts;
    for (const LogLine& line : lines_) {
      if (line.text.find(part) != std::string::npos) texts.push_back(line.text);
    }
    return texts;
  }
  // Where the first line equal to text is, or the end.
  std::size_t IndexOf(const std::string& text) {
    Settle();
    const auto it = std::find_if(lines_.begin(), lines_.end(), [&](const LogLine& line) { return line.text == text; });
    return static_cast<std::size_t>(it - lines_.begin());
  }

 private:
  void Keep(const std::string& datagram) {
    LogLine line;
    if (datagram.size() > 1 && datagram[0] == '<') line.priority = std::atoi(datagram.c_str() + 1) & 7;
    line.text = testing_support::LogText(datagram, "");
    line.at = std::chrono::steady_clock::now();
    lines_.push_back(std::move(line));
  }

  testing_support::UdpCollector& collector_;
  std::vector<LogLine> lines_;
};

// The lines a sender logs about its gateway.
inline std::string Remaining(const std::string& gw, int tries) {
  return "The remainder re-try number of times for ACL setting for " + gw + " is a " + std::to_string(tries) + " time.";
}
inline std::string Completed(const std::string& gw) { return "ACL setting was completed in " + gw + "."; }
inline std::string Answered(const std::string& gw, const std::string& what) {
  return "Response cord from " + gw + " is " + what + ".";
}
inline std::string ConnectionError(const std::string& gw) { return "Connection error to " + gw + "."; }
inline std::string Dropped(const std::string& gw) {
  return "I failed in setting of quarantine inspection information for " + gw + ".";
}

// A process figure from /proc/self/status in kB ("VmRSS", "VmHWM", "VmPeak").
inline long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

// A clock whose sleeps last a hundredth of the time asked, installed for its lifetime: minutes
// of pauses between tries pass in about a second, while the clocks stay real, so the bounds
// (a 3 s receive, a 3 s connect) keep their length. It keeps the length of each pause asked.
class FastSleepClock final : public platform::Clock {
 public:
  FastSleepClock() { platform::InstallClock(this); }
  ~FastSleepClock() override { platform::InstallClock(nullptr); }
  FastSleepClock(const FastSleepClock&) = delete;
  FastSleepClock& operator=(const FastSleepClock&) = delete;

  std::uint32_t NowMs() override { return platform::RealClock().NowMs(); }
  void SleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::microseconds(ms * 10ULL)); }
  std::chrono::microseconds SleepLength(std::uint32_t ms) override {
    std::lock_guard lock(mutex_);
    asked_.push_back(ms);
    return std::chrono::microseconds(ms * 10ULL);
  }
  // The pauses asked so far, in milliseconds, shortest first.
  std::vector<std::uint32_t> Asked() {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> asked = asked_;
    std::sort(asked.begin(), asked.end());
    return asked;
  }

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> asked_;
};

// A dispatcher with its log going to a collector of the test's own, logging everything. Its
// pauses between tries take a hundredth of their time unless the test runs in real time.
class DeliveryTest : public ::testing::Test {
 protected:
  explicit DeliveryTest(bool realTime = false) {
    if (!realTime) clock_.emplace();
    collector_->TakeTheLog("debug");
  }
  ~DeliveryTest() override {
    Stop();
    CloseSyslog();
  }

  void Start() {
    client_ = std::make_unique<CNacHttpClient>();
    client_->SaveThreadID(owner_.Id());
  }
  // As the controller ends it at its stop.
  void Stop() {
    if (!client_) return;
    EXPECT_TRUE(client_->PostQuit());
    client_->WaitForEnd();
    client_.reset();
  }
  // Appends the requests to the pending list in one go, as a rule walk does, and wakes the
  // dispatcher.
  void Send(const std::vector<CHttpData>& requests) {
    {
      CHttpDataList& pending = GetPendingHttpDataList();
      CNacList::Guard guard(pending);
      for (const CHttpData& request : requests) pending.AddTail(new CHttpData(request), true);
    }
    EXPECT_TRUE(client_->EventSend());
  }

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
  LogBook log_{*collector_};
  testing_support::OwnerStandIn owner_;
  std::optional<FastSleepClock> clock_;  // outlives the dispatcher's threads
  std::unique_ptr<CNacHttpClient> client_;
};

class RealTimeDeliveryTest : public DeliveryTest {
 protected:
  RealTimeDeliveryTest() : DeliveryTest(true) {}
};

}  // namespace delivery_testing
