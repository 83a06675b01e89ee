#pragma once

#include <cstdint>

// The gwroute command family (command id in the command table). Runs on the session's worker
// thread and touches the registries only through their guarded operations.
std::int32_t GwrouteCommand(int socket, int wordCount, char** words);

// gwroute load: withdraws every route and reads gwroute.csv. 3 when the whole file was
// read, 0 after a reply, -1 on a read error or a failed reply. The controller runs it at
// start with kNoConnection.
std::int32_t GwrouteLoad(int socket);
