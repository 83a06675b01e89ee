// A session whose exit message cannot reach the command server still gives its slot back.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command/NacCmdServer.h"
#include "list/NacList.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/ThreadMessages.h"
#include "registry/GwDataList.h"
#include "support/Metrics.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/OwnerStandIn.h"
#include "tests/common/TempDir.h"

namespace {

using testing_support::ConsoleClient;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18000;

template <class Done>
bool WaitFor(Done done) {
  for (auto deadline = std::chrono::steady_clock::now() + 10s; !done();) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool OwnerGot(testing_support::OwnerStandIn& owner, std::uint32_t message, std::uint32_t wParam) {
  for (const platform::ThreadMessage& m : owner.Received()) {
    if (m.message == message && m.wParam == wParam) return true;
  }
  return false;
}

TEST(LostSessionExitTest, TheSlotComesBackWhenTheServersQueueWasFull) {
  ResetRegistries();
  testing_support::TempDir dir;
  testing_support::OwnerStandIn owner;
  CNacCmdServer server;
  server.SaveThreadID(owner.Id());
  ASSERT_TRUE(server.StartServer(kPort));

  auto stuck = std::make_unique<ConsoleClient>(kPort);  // slot 0
  ASSERT_EQ(stuck->ReadPrompt(), "$ ");
  auto leaving = std::make_unique<ConsoleClient>(kPort);  // slot 1
  ASSERT_EQ(leaving->ReadPrompt(), "$ ");

  // The first session stops inside a show, on the gateway registry's lock; the server's
  // thread, told to end that session, waits for it while its queue fills up.
  std::optional<CNacList::Guard> gateways;
  gateways.emplace(GetGwDataList());
  ASSERT_TRUE(stuck->Send("gwroute\n"));
  const std::string header = "GW\t\tIFACE\t\tDESTINATION\tGENMASK\r\n";
  ASSERT_EQ(stuck->Read(header.size(), 5s), header);
  ASSERT_TRUE(platform::PostToThread(server.ThreadId(), msg::cmd::WM_PROTOCOL_EXIT, 0, 0));
  // Any message the server takes no action on fills its queue.
  const std::uint32_t filler = platform::RegisterMessageName("VELNORTEST:FILLER");
  std::size_t posted = 0;
  while (posted <= platform::kMessageQueueLimit && platform::PostToThread(server.ThreadId(), filler, 0, 0)) {
    ++posted;
  }
  ASSERT_LE(posted, platform::kMessageQueueLimit) << "the server's queue never filled";

  // The second session ends while there is no room for its exit message.
  leaving.reset();
  ASSERT_TRUE(WaitFor([] { return GetMetrics().consoleSessions.load() == 1; }));

  // The first one goes on and ends; once the server's thread is through its backlog, it
  // forwards a marker to the owner.
  gateways.reset();
  ASSERT_TRUE(WaitFor([&] { return platform::PostToThread(server.ThreadId(), msg::cmd::WM_PROTOCOL_RECV, 99, 1); }));
  ASSERT_TRUE(WaitFor([&] { return OwnerGot(owner, msg::cmd::WM_PROTOCOL_RECV, 99); }));

  // All ten slots are free again, and no more than ten.
  std::vector<std::unique_ptr<ConsoleClient>> operators;
  for (int i = 0; i < 10; ++i) {
    operators.push_back(std::make_unique<ConsoleClient>(kPort));
    EXPECT_EQ(operators.back()->ReadPrompt(), "$ ") << "operator " << i;
  }
  EXPECT_EQ(ConsoleClient(kPort).ReadToClose(), "");
}

}  // namespace
