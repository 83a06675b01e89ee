#include "delivery/SocketReceiver.h"

#include <cstring>

#include "platform/Clock.h"
#include "support/SocketIo.h"

int SocketReceiver::RecvUntil(std::string& buffer, std::size_t size, const char* terminator) {
  const std::uint32_t start = platform::TickCount();
  const std::size_t terminatorLength = terminator != nullptr ? std::strlen(terminator) : 0;
  const std::size_t first = buffer.size();
  std::size_t count = 0;
  bool done = size == 0;
  while (!done && !Stopped()) {
    std::uint32_t available = 0;
    if (SocketBytesAvailable(socket_, &available) != 0) return -1;
    // Bytes already there are read without waiting: the read event that announced them
    // may have been handed over by an enumeration, and it comes again only after a receive.
    if (available == 0) {
      const std::uint32_t elapsed = platform::TickCount() - start;
      const int signalled =
          platform::WaitForAny({&socketEvent_, &stopEvent_}, elapsed >= kBoundMs ? 0 : kBoundMs - elapsed);
      if (signalled == 1) {
        endFlag_.store(1);
        return -1;
      }
      if (signalled != 0) return -1;
      if (SocketBytesAvailable(socket_, &available) != 0) return -1;
      if (available == 0) {
        // Signalled with nothing to read: the peer has closed, or only a write was recorded.
        const platform::NetworkEvents events = socketEvent_.Enumerate();
        if ((events.events & platform::FD_CLOSE) != 0) return -1;
        continue;
      }
    }
    while (available > 0 && !done && !Stopped()) {
      // A peer that never stops sending is held to the bound too.
      if (platform::TickCount() - start >= kBoundMs) return -1;
      char byte = 0;
      if (SocketRecv(socket_, &byte, 1) != 1) return -1;
      buffer += byte;
      ++count;
      done = count == size || (terminatorLength > 0 && buffer.size() - first >= terminatorLength &&
                               buffer.compare(buffer.size() - terminatorLength, terminatorLength, terminator) == 0);
      // Only this thread reads the socket, so what was counted is still there: the count is
      // asked again once it is used up, not after every byte.
      if (--available == 0 && SocketBytesAvailable(socket_, &available) != 0) return -1;
    }
  }
  return static_cast<int>(count);
}
