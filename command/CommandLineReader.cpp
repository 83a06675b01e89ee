#include "command/CommandLineReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
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
  if (waiting == 0) return true;
  if (!block_) {
    block_.reset(new (std::nothrow) char[kReadSize]);
    if (!block_) {
      SyslogSend(2, "I failed in allocation of memory.");
      return false;
    }
  }
  const int received = SocketRecv(socket, block_.get(), static_cast<int>(std::min(waiting, kReadSize)));
  if (received < 0) {
    DropLine();
    return false;
  }
  const char* at = block_.get();
  const char* const end = at + received;
  while (at != end) {
    if (state_ == RECV_START && !StartLine()) return false;
    const long taken = Collect(at, end);
    if (taken < 0) return false;
    at += taken;
    if (state_ == RECV_EXEC && !ExecuteLine(sink)) return false;
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
  // A long line's block goes back rather than stay with the session.
  if ((!line_->HasBlock() || line_->Capacity() > kKeptLineSize) && !line_->Allocate()) {
    SyslogSend(2, "I failed in allocation of memory.");
    DropLine();
    return false;
  }
  line_->length = 0;
  line_->Buffer()[0] = '\0';
  state_ = RECV_READ;
  return true;
}

long CommandLineReader::Collect(const char* from, const char* end) {
  const char* stop = from;
  while (stop != end && *stop != kLineFeed && *stop != kBackspace) ++stop;
  const bool lineFeed = stop != end && *stop == kLineFeed;
  const std::size_t run = static_cast<std::size_t>(stop - from) + (lineFeed ? 1 : 0);
  // Room for the run and the terminating zero, always.
  const std::size_t needed = line_->length + run + 1;
  if (needed > std::numeric_limits<std::uint32_t>::max() || !line_->GrowTo(static_cast<std::uint32_t>(needed))) {
    SyslogSend(2, "I failed in allocation of memory.");
    DropLine();
    return -1;
  }
  char* const buffer = line_->Buffer();
  std::memcpy(buffer + line_->length, from, run);
  line_->length += static_cast<std::uint32_t>(run);
  buffer[line_->length] = '\0';
  if (lineFeed) {
    state_ = RECV_EXEC;
    return static_cast<long>(run);
  }
  if (stop == end) return static_cast<long>(run);
  if (line_->length != 0) buffer[--line_->length] = '\0';
  return static_cast<long>(run) + 1;
}

bool CommandLineReader::ExecuteLine(Sink& sink) {
  const bool goOn = sink.ExecuteLine(line_->Buffer());
  state_ = RECV_START;
  if (!goOn) DropLine();
  return goOn;
}

void CommandLineReader::DropLine() {
  line_.reset();
  state_ = RECV_START;
}
