#include "command/CommandDispatch.h"

#include <vector>

#include "command/CommandReply.h"
#include "command/CommandSplit.h"
#include "command/CommandTable.h"
#include "msgthread/OwnerThread.h"
#include "msgthread/RegisteredMessages.h"
#include "support/Syslog.h"

bool CommandProc(int socket, char* line, OwnerThread& owner) {
  std::vector<char*> words;
  const int count = SplitCommandLine(line, words);
  if (count == 0) return true;
  if (count < 0) return SendReply(socket, "too many words: a line holds at most 255\r\n") == 0;

  const CommandEntry* command = FindCommand(words[0]);
  if (command == nullptr) return SendReply(socket, "command not found\r\n") == 0;

  const std::int32_t result = command->handler(socket, count, words.data());
  if (result < 0) return false;
  // A result that cannot be passed on leaves the change's flags set: the next change of
  // the same kind takes it along.
  if (result > 0 && !owner.PostMessageMainThread(msg::cmd::WM_PROTOCOL_RECV, static_cast<std::uint32_t>(command->id),
                                                 static_cast<std::uint32_t>(result))) {
    SyslogSend(3, "CNacCmdProtocol::CommandProc: An error occurred in PostMessageMainThread.");
  }
  return true;
}
