// Real time, about 70 seconds: a gateway is probed every 10 seconds, give or take 100 ms,
// and is reported OFF after four probes that get no answer.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgthread/RegisteredMessages.h"
#include "keepalive/NacKeepAlive.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "support/Syslog.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/PrivateNetwork.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::PrivateNetwork;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(KeepAliveRealTimeTest, ProbesEveryTenSecondsAndGoesOffAfterFourUnansweredProbes) {
  if (!PrivateNetwork::Available()) GTEST_SKIP() << "needs a network namespace of its own (root)";
  testing_support::TempDir dir;
  testing_support::UdpCollector collector(1);
  dir.Write("syslog.ini", collector.SyslogIni());
  CloseSyslog();
  SetLogThreshold(7);
  PrivateNetwork::AnswerEcho(true);
  PrivateNetwork::AddAddress("10.11.0.2");
  auto* gateway = new CGwData();
  gateway->addressText = "10.11.0.2";
  gateway->address = ::inet_addr("10.11.0.2");
  ASSERT_EQ(GetGwDataList().AddUnique(gateway), 0);

  testing_support::OwnerStandIn owner;
  CNacKeepAlive keepAlive;
  keepAlive.SaveThreadID(owner.Id());
  ASSERT_EQ(keepAlive.StartTimer(), 0);

  // When each probe was sent, by the arrival of its log line.
  std::vector<Clock::time_point> probes;
  auto nextProbe = [&](std::chrono::seconds within) {
    const auto lines = collector.Until("I transmitted PING to GW(10.11.0.2).", within);
    if (lines) probes.push_back(Clock::now());
    return lines.has_value();
  };
  ASSERT_TRUE(nextProbe(2s));
  // The first interval starts anywhere within a second; the ones after it on its edge.
  ASSERT_TRUE(nextProbe(12s));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(nextProbe(12s));
    const auto interval = probes.back() - probes[probes.size() - 2];
    EXPECT_GT(interval, 9900ms);
    EXPECT_LT(interval, 10100ms);
  }

  PrivateNetwork::AnswerEcho(false);
  for (int failure = 1; failure <= 4; ++failure) ASSERT_TRUE(nextProbe(12s)) << failure;
  const auto off = collector.Until("GW(10.11.0.2) was diagnosed as OFF by a keep alive function.", 3s);
  ASSERT_TRUE(off.has_value());
  EXPECT_TRUE(owner.Await(msg::keepalive::WM_KEEPALIVE_STOP, 1s));
  GetGwDataList().RemoveAll(false);
  CloseSyslog();
}

}  // namespace
