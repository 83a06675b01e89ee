// Clients that ask for a long listing and never read it: their sessions end at the idle
// limit, hold no copy of the registry meanwhile, and never lock the other operators out.

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "command/NacCmdServer.h"
#include "support/Metrics.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/Eventually.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::ConsoleClient;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18010;
constexpr char kPcHeader[] = "ADDRESS\t\t\tDESTINATION\tNETWORK\t\tNETMASK\r\n";

class StalledReaders : public CommandTest {
 protected:
  // 100,000 PCs, every seventh withdrawn; gives the listing of the live ones.
  static std::string AddPcs() {
    std::string listing = kPcHeader;
    for (int i = 0; i < 100000; ++i) {
      char mac[18], source[16];
      std::snprintf(mac, sizeof mac, "02:00:00:%02X:%02X:%02X", i >> 16, (i >> 8) & 255, i & 255);
      std::snprintf(source, sizeof source, "10.%d.%d.%d", i >> 16, (i >> 8) & 255, i & 255);
      auto* pc = new CPcData();
      EXPECT_TRUE(pc->SetMac(mac) && pc->SetSource(source));
      pc->deleted = i % 7 == 3 ? 1 : 0;
      EXPECT_EQ(GetPcDataList().AddUnique(pc), 0);
      if (pc->deleted == 0) listing += std::string(mac) + "\t" + source + "\t\t\t\r\n";
    }
    return listing;
  }
  void Start(const std::string& idle) {
    SetIdle(idle);
    collector_->TakeTheLog();
    server_.SaveThreadID(owner_.Id());
    ASSERT_TRUE(server_.StartServer(kPort));
  }
  void SetIdle(const std::string& idle) { dir_.Write("Velnor.ini", "[SERVICE]\r\nIDLE=" + idle + "\r\n"); }
  // A client that sends lines after its prompt and reads nothing more; its receive buffer
  // is kept small.
  static std::unique_ptr<ConsoleClient> NonReader(const std::string& lines) {
    auto client = std::make_unique<ConsoleClient>(kPort);
    const int small = 2048;
    ::setsockopt(client->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    EXPECT_EQ(client->ReadPrompt(), "$ ");
    EXPECT_TRUE(client->Send(lines));
    return client;
  }
  void TearDown() override { CloseSyslog(); }

  std::unique_ptr<testing_support::UdpCollector> collector_ = testing_support::UdpCollector::OnFreeAddress();
  testing_support::OwnerStandIn owner_;
  CNacCmdServer server_;
};

TEST_F(StalledReaders, ANonReaderHoldsOnePieceAndIsClosedAtTheIdleLimit) {
  const std::string listing = AddPcs();
  Start("4");
  const auto heapBytes = [] { return static_cast<std::ptrdiff_t>(::mallinfo2().uordblks + ::mallinfo2().hblkhd); };
  const std::ptrdiff_t before = heapBytes();
  auto stuck = NonReader("pc show\npc show\n");
  // The first line only leaves once its piece is copied.
  const std::size_t lineEnd = listing.find('\n', sizeof kPcHeader) + 1;
  ASSERT_EQ(stuck->Read(lineEnd, 10s), listing.substr(0, lineEnd));
  EXPECT_LT(heapBytes() - before, 8 << 20) << "a copy of the whole registry takes some 24 MB";

  // Waiting for room keeps no core busy: some stretch of the wait takes next to no
  // processor time (the whole process's, other threads' bursts included).
  const auto cpuUs = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000000L + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1000000L +
           usage.ru_stime.tv_usec;
  };
  bool idle = false;
  for (int window = 0; window < 8 && !idle; ++window) {  // well within the limit of 4 s
    const long before = cpuUs();
    std::this_thread::sleep_for(300ms);
    idle = cpuUs() - before < 100000;
  }
  EXPECT_TRUE(idle) << "a session waiting for its reader keeps a core busy";
  const std::string closed = "I closed a command session of 127.0.0.1 whose output did not move for 4 seconds.";
  const auto log = collector_->Until(closed, 30s);
  ASSERT_TRUE(log);
  for (const std::string& line : *log) EXPECT_EQ(line.find("An error occurred"), line.npos) << line;
  EXPECT_TRUE(testing_support::Eventually([] { return GetMetrics().consoleSessions.load() == 0; }))
      << "the stalled session is still open";
}

TEST_F(StalledReaders, TenNonReadersLeaveTheConsoleAndItsWholeListingsToTheNextOperator) {
  const std::string listing = AddPcs();
  // The first gateway's routes fill more than one piece; the second gateway is withdrawn.
  std::string routes = "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n";
  for (const auto& [gateway, count] : {std::pair{"127.0.0.1", 5000}, {"127.0.0.2", 2}, {"127.0.0.3", 2}}) {
    ASSERT_EQ(RunCommandLine(std::string("gw add ") + gateway).result, 1);
    for (int i = 0; i < count; ++i) {
      const std::string network = "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".0";
      const std::string add = std::string("gwroute add ") + gateway + " network " + network;
      ASSERT_EQ(RunCommandLine(add + " netmask 255.255.255.0 dev eth0").result, 1);
      if (std::string(gateway) == "127.0.0.2") continue;
      routes += std::string(gateway) + "\teth0\t\t" + network + "\t255.255.255.0\r\n";
    }
  }
  ASSERT_EQ(RunCommandLine("gw del 127.0.0.2").result, 2);
  Start("1");
  std::vector<std::unique_ptr<ConsoleClient>> stuck;
  for (int i = 0; i < 10; ++i) stuck.push_back(NonReader("pc show\npc show\n"));
  SetIdle("0");

  std::unique_ptr<ConsoleClient> next;
  for (auto deadline = std::chrono::steady_clock::now() + 60s; !next && std::chrono::steady_clock::now() < deadline;) {
    next = std::make_unique<ConsoleClient>(kPort);
    if (next->ReadPrompt(1s) != "$ ") next.reset();
  }
  ASSERT_TRUE(next) << "the non-readers keep every slot";
  EXPECT_EQ(next->Command("pc show", 60s), listing);
  EXPECT_EQ(next->Command("gwroute", 60s), routes);
}

}  // namespace
