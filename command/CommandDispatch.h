#pragma once

class OwnerThread;
class PendingWalks;

// Runs one collected operator line: splits it into words, finds the command and runs its
// handler with the session's socket. A positive result goes to the owner as
// "VELNORCMD:WM_PROTOCOL_RECV" (command id, result); for a change of a registry only when
// no such message waits already, the change being flagged in walks. Gives false when the
// session must end: a negative handler result, or a reply that could not be sent.
[[nodiscard]] bool CommandProc(int socket, char* line, OwnerThread& owner, PendingWalks& walks);
