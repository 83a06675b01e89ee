// Operator input of any bytes: one session's line collection and command dispatch over a
// socket pair, every command family included. No crash, no sanitizer finding, no hang.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "command/CommandDispatch.h"
#include "command/CommandLineReader.h"
#include "command/PendingWalks.h"
#include "command/ServiceData.h"
#include "msgthread/OwnerThread.h"
#include "registry/GwDataList.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "tests/fuzz/FuzzFiles.h"

namespace {

// Whatever fits the socket pair at once; longer inputs add nothing the shorter ones miss.
constexpr std::size_t kMaxInput = 64 * 1024;

// A session without a server: positive results are posted nowhere.
class Session final : public OwnerThread, public CommandLineReader::Sink {
 public:
  explicit Session(int socket) : socket_(socket) {}
  bool ExecuteLine(char* line) override { return CommandProc(socket_, line, *this, walks_); }

 private:
  int socket_;
  PendingWalks walks_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Socket errors of closed pairs are expected here; the scratch directory keeps the log quiet.
  static const bool inScratch = (std::filesystem::current_path(fuzz_files::ScratchDir("session")), true);
  size = std::min(size, kMaxInput);
  int pair[2];
  if (!inScratch || ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  const int buffer = static_cast<int>(kMaxInput) * 2;
  ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  fuzz_files::Check(::write(pair[1], data, size) == static_cast<ssize_t>(size), "the input did not fit the pair");

  // Replies are read away as they come, so that no listing can block the session.
  std::thread drain([peer = pair[1]] {
    char sink[65536];
    while (::read(peer, sink, sizeof sink) > 0) {
    }
  });
  CommandLineReader reader;
  Session session(pair[0]);
  (void)reader.RecvProc(pair[0], session);  // going on or not, the session must survive the bytes
  ::shutdown(pair[0], SHUT_RDWR);
  drain.join();
  ::close(pair[0]);
  ::close(pair[1]);

  GetNacDataList().RemoveAll(false);
  GetPcDataList().RemoveAll(false);
  GetQuarantineDataList().RemoveAll(false);
  GetGwDataList().RemoveAll(false);
  SetServiceData(CServiceData{});
  for (const char* file : {"pc.csv", "quarantine.csv", "gw.csv", "gwroute.csv", "Velnor.ini"}) {
    std::filesystem::remove(file);
  }
  return 0;
}
