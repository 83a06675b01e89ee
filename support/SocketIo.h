#pragma once

#include <cstdint>

// The byte carriers of every TCP exchange: command sessions, their handlers and the gateway
// clients. No state; each failure is logged once at priority 3 with the error's name and
// reported as -1. The socket is never closed here and nothing throws.

// Sends all length bytes, retrying while the socket would block: between two tries it
// sleeps until the socket has room, at most 100 ms, so it waits for a slow peer without
// spinning. Without a stall limit on the calling thread the retries never stop; with one, a
// send that moves not one byte for that long gives -1 without a log line. A length of 0 (or
// less) makes one send of 0 bytes and gives 0. Returns length, or -1; bytes already sent
// stay sent. Writers on one socket must not interleave.
[[nodiscard]] int SocketSendAll(int socket, const void* bytes, int length);

// The stall limit of the calling thread's SocketSendAll for the scope of this object (0:
// none, the start value). A console session's worker sets it, so that a reader that never
// reads cannot hold the session, nor what its reply holds, for ever.
class SendStallLimit {
 public:
  explicit SendStallLimit(std::uint32_t milliseconds);
  ~SendStallLimit();
  SendStallLimit(const SendStallLimit&) = delete;
  SendStallLimit& operator=(const SendStallLimit&) = delete;

 private:
  std::uint32_t previous_;
};

// Whether a SocketSendAll of this thread gave up on a stall since the last SendStallLimit
// was set: the caller tells a stalled peer from a socket error by it.
[[nodiscard]] bool SocketSendStalled();

// One receive of at most size bytes: the count received, 0 when the peer has closed the
// connection (not logged), or -1.
[[nodiscard]] int SocketRecv(int socket, void* buffer, int size);

// The number of bytes that can be read at once into *count: 0, or -1.
[[nodiscard]] int SocketBytesAvailable(int socket, uint32_t* count);
