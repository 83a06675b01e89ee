#pragma once

#include <optional>
#include <string>

#include "command/CommandId.h"

class OwnerThread;
class PendingWalks;

// Runs one collected operator line: splits it into words, finds the command and runs its
// handler with the session's socket. A positive result goes to the owner as
// "VELNORCMD:WM_PROTOCOL_RECV" (command id, result); for a change of a registry only when
// no such message waits already, the change being flagged in walks. Gives false when the
// session must end: a negative handler result, or a reply that could not be sent.
// A change is audited (logged at priority 5 and kept for the status page) with origin,
// "address:port slot n", when one is given. changed, when given, names the command of a
// registry the line changed.
[[nodiscard]] bool CommandProc(int socket, char* line, OwnerThread& owner, PendingWalks& walks,
                               const std::string* origin = nullptr, std::optional<CommandId>* changed = nullptr);

// Posts the walk message that a failed post left missing, so that a session held back by
// the walks is not held for ever. Logs nothing: it is tried again while the session waits.
void AnnounceWalks(OwnerThread& owner, PendingWalks& walks);
