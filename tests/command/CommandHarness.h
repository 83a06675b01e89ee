#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command/CommandDispatch.h"
#include "command/CommandTable.h"
#include "command/PendingWalks.h"
#include "command/ServiceData.h"
#include "msgthread/OwnerThread.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/ThreadMessages.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"
#include "tests/common/RecordDump.h"
#include "tests/common/TempDir.h"

// What one operator line did: the result its command reported to the session's owner (0
// when nothing was posted, -1 when the session ends) and every byte it sent.
struct CommandRun {
  std::int32_t result = 0;
  std::string reply;
  bool operator==(const CommandRun&) const = default;
};
inline void PrintTo(const CommandRun& run, std::ostream* out) {
  *out << run.result << " " << ::testing::PrintToString(run.reply);
}

// The owner of a session while one line runs: the calling thread, whose queue takes what
// the dispatch posts, so that the post is there once the dispatch returns.
class LineOwner final : public OwnerThread {
 public:
  LineOwner() { SaveThreadID(platform::CurrentThreadId()); }

  // The result posted for the command named word, or 0 when none was.
  std::int32_t Posted(const std::string& word) {
    std::int32_t result = 0;
    for (platform::ThreadMessage message; queue_.TryTakeMessage(message);) {
      const CommandEntry* command = FindCommand(word.c_str());
      EXPECT_EQ(message.message, msg::cmd::WM_PROTOCOL_RECV);
      EXPECT_TRUE(command != nullptr && static_cast<CommandId>(message.wParam) == command->id) << "posted for another command";
      EXPECT_EQ(result, 0) << "posted twice";
      result = static_cast<std::int32_t>(message.lParam);
    }
    return result;
  }

 private:
  platform::MessageQueue queue_;
};

// Runs one line through the console's dispatch on a socket pair, as a session does, and
// collects the reply and what reached the owner.
inline CommandRun RunCommandLine(std::string line) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {-100, "socketpair failed"};
  CommandRun run;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[1], buffer, sizeof buffer)) > 0) run.reply.append(buffer, static_cast<std::size_t>(n));
  });
  const std::string word = line.substr(0, line.find(' '));
  LineOwner owner;
  PendingWalks walks;
  const bool goesOn = CommandProc(fds[0], line.data(), owner, walks);
  run.result = goesOn ? owner.Posted(word) : -1;
  ::close(fds[0]);
  reader.join();
  ::close(fds[1]);
  return run;
}

// Empties every registry and puts the settings back, so that each test starts alike.
inline void ResetRegistries() {
  GetNacDataList().RemoveAll(false);
  GetPcDataList().RemoveAll(false);
  GetQuarantineDataList().RemoveAll(false);
  GetGwDataList().RemoveAll(false);
  SetServiceData(CServiceData{});
}

// The frame of the command families' tests: empty registries and default settings, a
// directory of its own for the files the commands write, and no log lines.
class CommandTest : public ::testing::Test {
 protected:
  CommandTest() {
    SetLogThreshold(0);
    ResetRegistries();
  }
  testing_support::TempDir dir_;
};

// One operator line and what it must do: the result posted, the reply (only its start
// when the expected text ends in "..."), and what the test's state function gives after it.
struct Step {
  std::string line;
  std::int32_t result;
  std::string reply;
  std::string state;
};

// Runs the steps in order, each one after fresh() when that is given.
inline void RunSteps(const std::vector<Step>& steps, const std::function<std::string()>& state,
                     const std::function<void()>& fresh = {}) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    if (fresh) fresh();
    const CommandRun run = RunCommandLine(step.line);
    EXPECT_EQ(run.result, step.result);
    if (step.reply.ends_with("...")) {
      EXPECT_TRUE(run.reply.starts_with(step.reply.substr(0, step.reply.size() - 3))) << run.reply;
    } else {
      EXPECT_EQ(run.reply, step.reply);
    }
    EXPECT_EQ(state(), step.state);
  }
}
