// A batch piped in: lines framed as typed however the bytes are cut, one walk message for
// many changes, and a session that waits for the walks rather than outrun them.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command/NacCmdServer.h"
#include "platform/ThreadMessages.h"
#include "registry/PcDataList.h"
#include "tests/command/CommandHarness.h"
#include "tests/common/ConsoleClient.h"
#include "tests/common/Eventually.h"

namespace {

using testing_support::ConsoleClient;
using testing_support::Eventually;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 18040;

// The controller's part: at each message it takes what the sessions flagged, once let go.
class Walker {
 public:
  Walker() {
    std::promise<std::uint32_t> id;
    thread_ = std::thread([this, &id] {
      platform::MessageQueue queue;
      id.set_value(platform::CurrentThreadId());
      for (platform::ThreadMessage message; queue.TakeMessage(message);) {
        ++messages;
        while (held) std::this_thread::sleep_for(5ms);
        const PendingWalks::Batch batch = walks->Take();
        if (flagged.empty()) flagged = batch.flagged;
        taken += batch.changes;
        walks->Walked(batch.changes);
      }
    });
    id_ = id.get_future().get();
  }
  ~Walker() {
    held = false;
    (void)platform::PostToThread(id_, platform::kQuitMessage, 0, 0);  // refused only by a full queue
    thread_.join();
  }
  std::uint32_t Id() const { return id_; }

  PendingWalks* walks = nullptr;
  std::atomic<bool> held{true};
  std::atomic<int> messages{0};
  std::atomic<std::size_t> taken{0};
  std::vector<PendingWalks::Flagged> flagged;  // of the first batch, read once the walker is idle

 private:
  std::uint32_t id_ = 0;
  std::thread thread_;
};

class ABatchPipedIn : public ::testing::Test {
 protected:
  ABatchPipedIn() {
    ResetRegistries();
    server_.SaveThreadID(walker_.Id());
    walker_.walks = &server_.Walks();
    EXPECT_TRUE(server_.StartServer(kPort));
    client_ = std::make_unique<ConsoleClient>(kPort);
    EXPECT_EQ(client_->ReadPrompt(10s), "$ ");
  }
  // The replies of count lines, prompts included.
  std::string Replies(int count) {
    std::string replies;
    for (int i = 0; i < count; ++i) {
      const std::optional<std::string> reply = client_->ReadPrompt(30s);
      if (!reply) return replies + "(no more)";
      replies += *reply;
    }
    return replies;
  }
  static std::string PcLines(const char* verb, int count) {
    std::string lines;
    char line[64];
    for (int i = 0; i < count; ++i) {
      lines += (std::snprintf(line, sizeof line, "pc %s source-mac 02:00:00:00:%02x:%02x\n", verb, i >> 8, i & 0xff), line);
    }
    return lines;
  }

  testing_support::TempDir dir_;
  CNacCmdServer server_;
  Walker walker_;  // ends first: it takes from the server's walks
  std::unique_ptr<ConsoleClient> client_;
};

TEST_F(ABatchPipedIn, LinesAreFramedAsTypedHoweverTheBytesAreCut) {
  const std::string help = client_->Command("help").value_or("no reply");
  // Typed before the first prompt came: answered after it.
  ConsoleClient early(kPort);
  ASSERT_TRUE(early.Send("help\n"));
  EXPECT_EQ(early.Read(2 + help.size() + 2, 10s), "$ " + help + "$ ");
  // Cut inside a line, inside a word and right after a backspace that takes back across the cut.
  for (const char* piece : {"he", "lx", "\b", "\bl", "p\nfo", "o\n"}) {
    ASSERT_TRUE(client_->Send(piece));
    std::this_thread::sleep_for(30ms);
  }
  EXPECT_EQ(client_->ReadPrompt(), help + "$ ");
  EXPECT_EQ(client_->ReadPrompt(), "command not found\r\n$ ");
  // The command text ends at a NUL; a line of megabytes runs whole, and soon.
  EXPECT_EQ(client_->Command(std::string("help\0 pc", 8)), help);
  auto sent = std::async(std::launch::async, [&] { return client_->Send("help" + std::string(32 << 20, ' ') + "\n"); });
  EXPECT_EQ(client_->ReadPrompt(15s), help + "$ ");
  EXPECT_TRUE(sent.get());
  // Many lines in one piece run in order; nothing after exit runs.
  std::string lines, expected;
  for (int i = 0; i < 3000; ++i) lines += "foo\n", expected += "command not found\r\n";
  ASSERT_TRUE(client_->Send(lines));
  std::string replies = Replies(3000);
  for (std::size_t at; (at = replies.find("$ ")) != std::string::npos;) replies.erase(at, 2);
  EXPECT_EQ(replies, expected);
  ASSERT_TRUE(client_->Send("pc add source-mac 02:00:00:00:00:01\nexit\npc add source-mac 02:00:00:00:00:02\n"));
  EXPECT_EQ(client_->ReadToClose(10s), "good by\r\n");
  EXPECT_EQ(GetPcDataList().GetCount(false), 1);
}

// Megabytes without a line feed, then the operator goes: the memory goes with the session.
TEST_F(ABatchPipedIn, ALongUnfinishedLineGivesItsMemoryBackWithItsSession) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer keeps shadow pages of its own for the memory the line used";
#endif
  const auto residentKb = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("VmRSS:")) {
    }
    return std::atol(line.c_str() + 6);
  };
  const long before = residentKb();
  const std::string piece(64 << 10, 'x');
  for (int session = 0; session < 4; ++session) {  // the heap of the first may serve the next
    ConsoleClient typing(kPort);
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(typing.Send(piece));
    ASSERT_TRUE(Eventually([&] { return residentKb() - before > 3000; })) << "the line is not held";
  }
  EXPECT_TRUE(Eventually([&] { return residentKb() - before < 2000; })) << residentKb() - before << " kB kept";
}

TEST_F(ABatchPipedIn, ManyChangesBringOneMessageAndEveryChangeIsTaken) {
  ASSERT_TRUE(client_->Send(PcLines("add", 2000) + "nac add accept source 10.0.0.1\n" + PcLines("del", 2000)));
  Replies(4001);
  walker_.held = false;
  ASSERT_TRUE(Eventually([&] { return server_.Walks().Waiting() == 0; }));
  EXPECT_EQ(walker_.messages, 1);
  EXPECT_EQ(walker_.taken, 4001u);
  EXPECT_EQ(walker_.flagged, (std::vector<PendingWalks::Flagged>{{CommandId::kPc, true, true}, {CommandId::kNac, true, false}}));
  // A change after the walk took the last ones brings the next message.
  EXPECT_EQ(client_->Command("pc add source-mac 02:00:00:00:00:01"), "");
  ASSERT_TRUE(Eventually([&] { return walker_.messages == 2 && server_.Walks().Waiting() == 0; }));
}

TEST_F(ABatchPipedIn, AHugeBatchWaitsForTheWalksInsteadOfPilingUp) {
  constexpr int kLines = 6000;
  auto sent = std::async(std::launch::async, [&] { return client_->Send(PcLines("add", kLines)); });
  ASSERT_TRUE(Eventually([&] { return server_.Walks().Waiting() > PendingWalks::kBound; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(server_.Walks().Waiting(), PendingWalks::kBound + 1);
  EXPECT_EQ(GetPcDataList().GetCount(false), static_cast<int>(PendingWalks::kBound) + 1) << "a line ran past the bound";
  walker_.held = false;
  EXPECT_EQ(Replies(kLines).size(), 2u * kLines);
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(GetPcDataList().GetCount(false), kLines);
}

TEST_F(ABatchPipedIn, AWalkMessageLostOnTheWayIsPostedAgain) {
  server_.SaveThreadID(0);  // the controller refuses every message
  auto sent = std::async(std::launch::async, [&] { return client_->Send(PcLines("add", 5000)); });
  ASSERT_TRUE(Eventually([&] { return server_.Walks().Full(); }));
  server_.SaveThreadID(walker_.Id());
  walker_.held = false;
  EXPECT_EQ(Replies(5000).size(), 2u * 5000);
  EXPECT_TRUE(sent.get());
}

}  // namespace
