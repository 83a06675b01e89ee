#pragma once

class OwnerThread;

// Runs one collected operator line: splits it into words, finds the command and runs its
// handler with the session's socket. A positive result goes to the owner as
// "VELNORCMD:WM_PROTOCOL_RECV" (command id, result). Gives false when the session must
// end: a negative handler result, or a reply that could not be sent.
[[nodiscard]] bool CommandProc(int socket, char* line, OwnerThread& owner);
