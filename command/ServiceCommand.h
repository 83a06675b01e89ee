#pragma once

#include <cstdint>

// The service command family (command id in the command table). Runs on the session's worker
// thread and touches the registries only through their guarded operations.
std::int32_t ServiceCommand(int socket, int wordCount, char** words);

// service load: reads PORT of section SERVICE of Velnor.ini into the settings. 3 when it
// is a port; 0 (after "load error") when not; -1 when the reply could not be sent. The
// controller runs it at start with kNoConnection.
std::int32_t ServiceLoad(int socket);
