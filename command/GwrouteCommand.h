#pragma once

#include <cstdint>

// The gwroute command family (command id in the command table). Runs on the session's worker
// thread and touches the registries only through their guarded operations.
std::int32_t GwrouteCommand(int socket, int wordCount, char** words);
