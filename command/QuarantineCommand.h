#pragma once

#include <cstdint>

// The quarantine command family (command id in the command table). Runs on the session's worker
// thread and touches the registries only through their guarded operations.
std::int32_t QuarantineCommand(int socket, int wordCount, char** words);
