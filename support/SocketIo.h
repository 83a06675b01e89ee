#pragma once

#include <cstdint>

// The byte carriers of every TCP exchange: command sessions, their handlers and the gateway
// clients. No state; each failure is logged once at priority 3 with the error's name and
// reported as -1. The socket is never closed here and nothing throws.

// Sends all length bytes, retrying while the socket would block (no limit, no time-out):
// between two tries it sleeps until the socket has room, at most 100 ms, so it waits for a
// slow peer without spinning. A length of 0 (or less) makes one send of 0 bytes and gives
// 0. Returns length, or -1; bytes already sent stay sent. Writers on one socket must not
// interleave.
[[nodiscard]] int SocketSendAll(int socket, const void* bytes, int length);

// One receive of at most size bytes: the count received, 0 when the peer has closed the
// connection (not logged), or -1.
[[nodiscard]] int SocketRecv(int socket, void* buffer, int size);

// The number of bytes that can be read at once into *count: 0, or -1.
[[nodiscard]] int SocketBytesAvailable(int socket, uint32_t* count);
