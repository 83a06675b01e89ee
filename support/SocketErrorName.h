#pragma once

#include <string>

// The Windows Sockets name of an error number ("WSAEWOULDBLOCK" for 10035), or nullptr when
// no name carries that number.
const char* SocketErrorName(int error);

// What a log line shows for an error: its name; "unknown error <n>" for a positive number
// without a name; "errno <n> (<text>)" for a negative number, the -errno that stands for a
// Linux error without a Windows Sockets counterpart.
std::string SocketErrorText(int error);
