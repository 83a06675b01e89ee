#pragma once

#include <cstdint>
#include <memory>

#include "command/NacCmdProtocolData.h"

// Collects a session's operator bytes into lines, one socket block per call, and hands
// each complete line (LF included) to the sink before it looks at the next byte. A
// backspace takes back the byte before it; no other byte is special. A line has no length
// limit; the block of a long one is given back once it has run.
class CommandLineReader {
 public:
  class Sink {
   public:
    // Runs one line and queues the next prompt; false ends the session.
    [[nodiscard]] virtual bool ExecuteLine(char* line) = 0;

   protected:
    ~Sink() = default;
  };

  // Bytes read from the socket at most per call.
  static constexpr std::uint32_t kReadSize = 64 * 1024;
  // A line block larger than this is given back once its line has run.
  static constexpr std::uint32_t kKeptLineSize = 64 * 1024;

  // Reads one block of what the socket has waiting and runs the lines it completes. False
  // ends the session: a socket error, no memory, or a sink that asked for the end (the
  // rest of the block is then dropped).
  [[nodiscard]] bool RecvProc(int socket, Sink& sink);

 private:
  enum State : std::uint32_t { RECV_START = 0x100, RECV_READ = 0x200, RECV_EXEC = 0x300 };

  // RECV_START: a fresh line block; false when it cannot be made.
  [[nodiscard]] bool StartLine();
  // RECV_READ: the bytes up to the next LF or backspace into the line; gives how many it
  // took, or -1 when memory runs out.
  [[nodiscard]] long Collect(const char* from, const char* end);
  // RECV_EXEC: runs the line; false ends the session.
  [[nodiscard]] bool ExecuteLine(Sink& sink);
  void DropLine();

  State state_ = RECV_START;
  std::unique_ptr<CNacCmdProtocolData> line_;
  std::unique_ptr<char[]> block_;  // the receive block, made at the first read
};
