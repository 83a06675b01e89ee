#pragma once

#include <cstdint>

// The service command family (command id in the command table). Runs on the session's worker
// thread and touches the registries only through their guarded operations.
std::int32_t ServiceCommand(int socket, int wordCount, char** words);
