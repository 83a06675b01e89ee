#include "command/CommandLineReader.h"

#include <new>

#include "support/SocketIo.h"
#include "support/Syslog.h"

namespace {

constexpr char kLineFeed = '\n';
constexpr char kBackspace = '\b';

}  // namespace

bool CommandLineReader::RecvProc(int socket, Sink& sink) {
  std::uint32_t waiting = 0;
  if (SocketBytesAvailable(socket, &waiting) != 0) return false;
  while (waiting != 0) {
    switch (state_) {
      case RECV_START:
        if (!StartLine()) return false;
        break;
      case RECV_READ: {
        const int read = ReadByte(socket);
        if (read < 0) return false;
        if (read == 0) return true;
        break;
      }
      case RECV_EXEC: {
        const bool goOn = sink.ExecuteLine(line_->Buffer());
        DropLine();
        if (!goOn) return false;
        break;
      }
    }
    // A completed line runs before anything else is read.
    if (state_ == RECV_EXEC) continue;
    if (SocketBytesAvailable(socket, &waiting) != 0) return false;
  }
  return true;
}

bool CommandLineReader::StartLine() {
  if (!line_) {
    try {
      line_ = std::make_unique<CNacCmdProtocolData>();
    } catch (const std::bad_alloc&) {
      SyslogSend(2, "I failed in making of CNacCmdProtocolData.");
      return false;
    }
  }
  if (!line_->HasBlock() && !line_->Allocate()) {
    SyslogSend(2, "I failed in allocation of memory.");
    DropLine();
    return false;
  }
  line_->length = 0;
  line_->Buffer()[0] = '\0';
  state_ = RECV_READ;
  return true;
}

int CommandLineReader::ReadByte(int socket) {
  char* at = line_->Buffer() + line_->length;
  const int received = SocketRecv(socket, at, 1);
  if (received < 0) {
    DropLine();
    return -1;
  }
  if (received == 0) return 0;
  if (*at == kLineFeed) {
    ++line_->length;
    at[1] = '\0';
    state_ = RECV_EXEC;
  } else if (*at == kBackspace) {
    *at = '\0';
    if (line_->length != 0) line_->Buffer()[--line_->length] = '\0';
  } else {
    ++line_->length;
  }
  // Room for the next byte and the terminating zero, always.
  if (line_->length + 1 >= line_->Capacity() && !line_->Grow()) {
    SyslogSend(2, "I failed in allocation of memory.");
    DropLine();
    return -1;
  }
  return 1;
}

void CommandLineReader::DropLine() {
  line_.reset();
  state_ = RECV_START;
}
