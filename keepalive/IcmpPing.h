#pragma once

#include <cstdint>

// How a prober pings: a raw ICMP socket (the default), or the kernel's ICMP datagram
// socket, which stands in for the ICMP helper library ("dll").
enum class PingMode { kRaw = 1, kLibrary = 2 };

// MODE of section PING in Velnor.ini: exactly "dll" selects the library mode.
PingMode ReadPingMode();

// One echo request to address (network order) and the wait for its answer, at most 1000 ms
// after the last packet that was not one. 0 when answered, -1 when not. identifier tells
// this prober's replies from those of the others on the raw socket.
int RawPing(std::uint32_t address, std::uint16_t identifier);

// The same through an ICMP datagram socket, opened and closed for this probe; the kernel
// chooses the identifier and hands over only this socket's replies.
int LibraryPing(std::uint32_t address);
