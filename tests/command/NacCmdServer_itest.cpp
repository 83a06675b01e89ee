// The console over real TCP: a command server with its sessions, owned by a stand-in
// controller thread.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command/NacCmdServer.h"
#include "list/NacList.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/TcpListener.h"
#include "platform/ThreadMessages.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "support/Syslog.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/Eventually.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"

namespace {

using testing_support::ConsoleClient;
using testing_support::LogTexts;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18000;

class CommandServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRegistries(); }
  void Start(std::uint16_t port = kPort) {
    server_ = std::make_unique<CNacCmdServer>();
    server_->SaveThreadID(owner_.Id());
    ASSERT_TRUE(server_->StartServer(port));
  }
  // A client that has its first prompt.
  std::unique_ptr<ConsoleClient> Operator(const std::string& source = "") {
    auto client = std::make_unique<ConsoleClient>(kPort, source);
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(client->ReadPrompt(), "$ ");
    return client;
  }
  // An operator closed out while ended sessions still hold the slots tries again, as one
  // would; none when the console keeps refusing for longer than the bound.
  static std::unique_ptr<ConsoleClient> PatientOperator() {
    for (const auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      auto client = std::make_unique<ConsoleClient>(kPort);
      if (client->ReadPrompt(1s) == "$ ") return client;
      std::this_thread::sleep_for(20ms);
    }
    return nullptr;
  }

  testing_support::TempDir dir_;
  testing_support::OwnerStandIn owner_;
  std::unique_ptr<CNacCmdServer> server_;
};

TEST_F(CommandServerTest, LinesAreFramedEditedAndSplitAsTyped) {
  Start();
  auto client = Operator();
  for (const char* blank : {"", " \t\r"}) EXPECT_EQ(client->Command(blank), "");
  for (const char* other : {"foo", "NAC", "na"}) EXPECT_EQ(client->Command(other), "command not found\r\n");
  const std::string nacTable = client->Command("nac").value_or("no reply");
  EXPECT_EQ(client->Command("nacx\b"), nacTable);
  EXPECT_EQ(client->Command("\b\bn\bnac"), nacTable);
  const std::string help =
      "Usage: quarantine\r\n       pc\r\n       gw\r\n       gwroute\r\n       nac\r\n       service\r\n";
  EXPECT_EQ(client->Command("help"), help);

  // The word count has a limit, and the session goes on after a refusal.
  std::string words = "help";
  for (int i = 1; i < 255; ++i) words += " x";
  EXPECT_EQ(client->Command(words), help);
  EXPECT_EQ(client->Command(words + " x"), "too many words: a line holds at most 255\r\n");
}

TEST_F(CommandServerTest, TenSessionsAtMostAndSlotsComeBack) {
  Start();
  std::vector<std::unique_ptr<ConsoleClient>> clients;
  for (int i = 0; i < 10; ++i) clients.push_back(Operator());
  ConsoleClient eleventh(kPort);
  EXPECT_EQ(eleventh.ReadToClose(), "");
  for (auto& client : clients) EXPECT_EQ(client->Command("foo"), "command not found\r\n");

  // Clients that vanish in the middle of a line free their slots.
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(clients[i]->Send("pc add source-mac 00:11:22:33:44:5" + std::to_string(i)));
    clients[i].reset();
  }
  for (int i = 0; i < 10; ++i) {
    clients[i] = PatientOperator();
    ASSERT_TRUE(clients[i]) << "a vanished client still holds its slot";
  }
  EXPECT_EQ(GetPcDataList().GetCount(false), 0);

  // The ten sessions run their handlers at the same time on the shared registries.
  std::vector<std::thread> operators;
  for (int i = 0; i < 10; ++i) {
    operators.emplace_back([&client = *clients[i], i] {
      for (int n = 0; n < 20; ++n) {
        const std::string mac = "00:11:22:33:" + std::to_string(10 + i) + ":" + std::to_string(10 + n);
        EXPECT_EQ(client.Command("pc add source-mac " + mac), "");
        EXPECT_EQ(client.Command("gw add 127.0." + std::to_string(i) + "." + std::to_string(n)), "");
        if (n % 2 == 0) {
          EXPECT_EQ(client.Command("pc del source-mac " + mac), "");
        }
        EXPECT_NE(client.Command("gw"), std::nullopt);
      }
    });
  }
  for (std::thread& thread : operators) thread.join();
  const std::string pcs = testing_support::Flags<CPcData>(GetPcDataList());
  EXPECT_EQ(std::ranges::count(pcs, '+') - std::ranges::count(pcs, '-'), 100) << "live PCs";
  EXPECT_EQ(GetGwDataList().GetCount(false), 200);
}

TEST_F(CommandServerTest, RemotePeersOnlyWhenRemoteIsEnable) {
  Start();
  for (const char* value : {"", "enabled", "disable", "yes"}) {
    if (*value != '\0') dir_.Write("Velnor.ini", std::string("[SERVICE]\r\nREMOTE=") + value + "\r\n");
    EXPECT_EQ(ConsoleClient(kPort, "127.0.0.2").ReadToClose(), "") << value;
  }
  dir_.Write("Velnor.ini", "[SERVICE]\r\nREMOTE=EnAbLe\r\n");
  Operator("127.0.0.2");
  Operator();
}

// The retry that takes the port once it is freed runs in the end-to-end tests.
TEST_F(CommandServerTest, APortInUseIsLoggedAndAStopDoesNotWaitForTheNextTry) {
  auto collector = testing_support::UdpCollector::OnFreeAddress();
  collector->TakeTheLog();
  const platform::UniqueSocket taken = platform::ListenTcp({.port = kPort + 1});
  ASSERT_TRUE(taken);
  Start(kPort + 1);
  ASSERT_TRUE(collector->Until("I failed in bind for command processing."));
  EXPECT_TRUE(owner_.Received().empty()) << "the owner has nothing to act on";
  const auto stopping = std::chrono::steady_clock::now();
  server_->StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s);
  EXPECT_FALSE(CNacCmdServer().StartServer(0));
  CloseSyslog();
}

TEST_F(CommandServerTest, ABurstOfConnectionsThatCloseAtOnceLeavesTheConsoleAnswering) {
  Start();
  Operator();
  {
    std::vector<platform::UniqueSocket> burst;
    const sockaddr_in to{AF_INET, htons(kPort), {htonl(INADDR_LOOPBACK)}, {}};
    for (int i = 0; i < 300; ++i) {
      burst.emplace_back(::socket(AF_INET, SOCK_STREAM, 0));
      ASSERT_EQ(::connect(burst.back().Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    }
  }
  // Sessions of the burst may still hold the slots for a moment.
  std::unique_ptr<ConsoleClient> late = PatientOperator();
  ASSERT_TRUE(late) << "the burst still keeps operators out";
  EXPECT_EQ(late->Command("foo"), "command not found\r\n");
}

TEST_F(CommandServerTest, SilentSessionsAreClosedAtTheIdleLimit) {
  auto collector = testing_support::UdpCollector::OnFreeAddress();
  collector->TakeTheLog();
  const auto idle = [this](const std::string& value) { dir_.Write("Velnor.ini", "[SERVICE]\r\nIDLE=" + value + "\r\n"); };
  idle("0");
  Start();
  auto unlimited = Operator();
  for (const char* value : {"ten", "ten", "-1", "2147484", "2147483"}) {
    idle(value);
    Operator();
  }
  idle("2");
  auto busy = Operator();
  auto silent = Operator();
  for (int i = 0; i < 5; ++i) {  // each line starts the limit again
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(busy->Command("foo"), "command not found\r\n");
  }
  EXPECT_EQ(silent->ReadToClose(), "");
  EXPECT_EQ(busy->ReadToClose(), "");
  EXPECT_EQ(unlimited->Command("foo"), "command not found\r\n");

  std::vector<std::string> lines = LogTexts(collector->Drain(), "");
  std::erase_if(lines, [](const std::string& text) {
    return text.find("IDLE") == text.npos && text.find("idle") == text.npos;
  });
  const std::string closed = "I closed an idle command session of 127.0.0.1 after 2 seconds.";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Velnor.ini: IDLE=ten in section SERVICE is not a number of seconds; 600 is used.",
                       "Velnor.ini: IDLE=-1 in section SERVICE is not a number of seconds; 600 is used.",
                       "Velnor.ini: IDLE=2147484 in section SERVICE is not a number of seconds; 600 is used.",
                       closed, closed}));
  CloseSyslog();
}

// A session whose exit message cannot reach the server's thread still gives its slot back.
TEST_F(CommandServerTest, TheSlotComesBackWhenTheServersQueueWasFull) {
  Start();
  auto stuck = Operator();  // slot 0
  auto leaving = Operator();  // slot 1

  // The first session stops inside a show, on the gateway registry's lock; the server's
  // thread, told to end that session, waits for it while its queue fills up.
  std::optional<CNacList::Guard> gateways;
  gateways.emplace(GetGwDataList());
  ASSERT_TRUE(stuck->Send("gwroute\n"));
  const std::string header = "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n";
  ASSERT_EQ(stuck->Read(header.size(), 5s), header);
  ASSERT_TRUE(platform::PostToThread(server_->ThreadId(), msg::cmd::WM_PROTOCOL_EXIT, 0, 0));
  // Any message the server takes no action on fills its queue. When the fill ended with the
  // exit message still in the queue, the server's thread takes it, and only it, and makes
  // room for one more.
  const std::uint32_t filler = platform::RegisterMessageName("VELNORTEST:FILLER");
  const auto fill = [&] { return platform::PostToThread(server_->ThreadId(), filler, 0, 0); };
  std::size_t posted = 0;
  while (posted <= platform::kMessageQueueLimit && fill()) ++posted;
  ASSERT_LE(posted, platform::kMessageQueueLimit) << "the server's queue never filled";
  if (posted < platform::kMessageQueueLimit) {
    ASSERT_TRUE(testing_support::Eventually(fill));
  }
  ASSERT_FALSE(fill()) << "the server's thread is not held";

  // The second session ends while there is no room for its exit message.
  leaving.reset();
  ASSERT_TRUE(testing_support::Eventually([] { return GetMetrics().consoleSessions.load() == 1; }));

  // The first one goes on and ends; once the server's thread is through its backlog, it
  // forwards a marker to the owner.
  gateways.reset();
  ASSERT_TRUE(testing_support::Eventually([&] { return platform::PostToThread(server_->ThreadId(), msg::cmd::WM_PROTOCOL_RECV, 99, 1); }));
  ASSERT_TRUE(testing_support::Eventually([&] {
    const std::vector<platform::ThreadMessage> received = owner_.Received();
    return std::ranges::any_of(received, [](const platform::ThreadMessage& m) {
      return m.message == msg::cmd::WM_PROTOCOL_RECV && m.wParam == 99;
    });
  }));

  // All ten slots are free again, and no more than ten.
  std::vector<std::unique_ptr<ConsoleClient>> operators;
  for (int i = 0; i < 10; ++i) operators.push_back(Operator());
  EXPECT_EQ(ConsoleClient(kPort).ReadToClose(), "");
}

}  // namespace
