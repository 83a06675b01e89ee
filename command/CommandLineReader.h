#pragma once

#include <cstdint>
#include <memory>

#include "command/NacCmdProtocolData.h"

// Collects a session's operator bytes into lines, one byte per receive call, and hands
// each complete line (LF included) to the sink. A backspace takes back the byte before it;
// no other byte is special. A line has no length limit.
class CommandLineReader {
 public:
  class Sink {
   public:
    // Runs one line and queues the next prompt; false ends the session.
    [[nodiscard]] virtual bool ExecuteLine(char* line) = 0;

   protected:
    ~Sink() = default;
  };

  // Reads what the socket has waiting. False ends the session: a socket error, no memory,
  // or a sink that asked for the end.
  [[nodiscard]] bool RecvProc(int socket, Sink& sink);

 private:
  enum State : std::uint32_t { RECV_START = 0x100, RECV_READ = 0x200, RECV_EXEC = 0x300 };

  // RECV_START: a fresh line block; false when it cannot be made.
  [[nodiscard]] bool StartLine();
  // RECV_READ: one byte into the line. -1 ends the session, 0 means nothing was waiting
  // after all, 1 goes on.
  [[nodiscard]] int ReadByte(int socket);
  void DropLine();

  State state_ = RECV_START;
  std::unique_ptr<CNacCmdProtocolData> line_;
};
