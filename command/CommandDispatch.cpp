#include "command/CommandDispatch.h"

#include <optional>
#include <vector>

#include "command/AuditLine.h"
#include "command/AuditTrail.h"
#include "command/CommandEvent.h"
#include "command/CommandReply.h"
#include "command/CommandSplit.h"
#include "command/CommandTable.h"
#include "command/PendingWalks.h"
#include "command/RegistryGeneration.h"
#include "msgthread/OwnerThread.h"
#include "msgthread/RegisteredMessages.h"
#include "support/Syslog.h"

namespace {

// A change of a registry brings the controller's walk; only one message for it waits at a
// time. The other positive results go to the owner as they come.
void ReportResult(const CommandEntry& command, std::int32_t result, OwnerThread& owner, PendingWalks& walks) {
  const bool walked = PendingWalks::Walks(command.id);
  if (walked && !walks.Flag(command.id, result)) return;
  if (owner.PostMessageMainThread(msg::cmd::WM_PROTOCOL_RECV, static_cast<std::uint32_t>(command.id),
                                  static_cast<std::uint32_t>(result))) {
    return;
  }
  // The change stays flagged: the next one tries the message again and its walk takes both.
  if (walked) walks.PostFailed();
  SyslogSend(3, "CNacCmdProtocol::CommandProc: An error occurred in PostMessageMainThread.");
}

}  // namespace

bool CommandProc(int socket, char* line, OwnerThread& owner, PendingWalks& walks, const std::string* origin,
                 std::optional<CommandId>* changed) {
  // Masked before the split cuts the line into words.
  const std::string masked = origin != nullptr ? MaskedCommandLine(line) : std::string();
  std::vector<char*> words;
  const int count = SplitCommandLine(line, words);
  if (count == 0) return true;
  if (count < 0) return SendReply(socket, "too many words: a line holds at most 255\r\n") == 0;

  const CommandEntry* command = FindCommand(words[0]);
  if (command == nullptr) return SendReply(socket, "command not found\r\n") == 0;

  std::optional<FirstReplyCapture> reply;
  const bool audited = origin != nullptr && IsAuditedCommand(command->id, count, words.data());
  if (audited) reply.emplace();
  const std::int32_t result = command->handler(socket, count, words.data());
  if (audited) {
    std::string text = AuditText(*origin, masked, reply->Text());
    SyslogSend(5, "%s", text.c_str());
    GetAuditTrail().Keep(std::move(text));
  }
  // A family's handler that ended the session may have changed its registry before its reply failed.
  if (result != 0 && PendingWalks::Walks(command->id)) RegistriesChanged();
  if (result < 0) return false;
  if (result > 0) {
    // Every positive result of a registry's family is a change of it.
    if (changed != nullptr && PendingWalks::Walks(command->id)) *changed = command->id;
    ReportResult(*command, result, owner, walks);
  }
  return true;
}

void AnnounceWalks(OwnerThread& owner, PendingWalks& walks) {
  const std::optional<CommandId> id = walks.Unannounced();
  // The walk takes every flagged change whatever the message says; the code is an add's.
  if (id && !owner.PostMessageMainThread(msg::cmd::WM_PROTOCOL_RECV, static_cast<std::uint32_t>(*id),
                                         static_cast<std::uint32_t>(command_event::kAdd))) {
    walks.PostFailed();
  }
}
