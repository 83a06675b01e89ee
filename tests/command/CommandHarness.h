#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "command/CommandSplit.h"
#include "command/CommandTable.h"
#include "command/ServiceData.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"

// What one operator line did: the handler's result and every byte it sent.
struct CommandRun {
  std::int32_t result = 0;
  std::string reply;
};

// Runs one line through the console's word split and command table on a socket pair, as a
// session does, and collects the reply. A line that names no command gives result 0 and
// the reply "command not found\r\n" like the session.
inline CommandRun RunCommandLine(std::string line) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {-100, "socketpair failed"};
  CommandRun run;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[1], buffer, sizeof buffer)) > 0) run.reply.append(buffer, static_cast<std::size_t>(n));
  });
  std::vector<char*> words;
  const int count = SplitCommandLine(line.data(), words);
  if (count > 0) {
    const CommandEntry* entry = FindCommand(words[0]);
    if (entry != nullptr) {
      run.result = entry->handler(fds[0], count, words.data());
    } else {
      static const char kNotFound[] = "command not found\r\n";
      (void)!::write(fds[0], kNotFound, sizeof kNotFound - 1);
    }
  }
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
