// quarantine.csv reader on arbitrary file contents: no crash, no sanitizer finding, every
// stored record is valid and flagged added, and what was stored saves and loads back as
// the same records.

#include <cstddef>
#include <cstdint>
#include <string>

#include "registry/QuarantineDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_files::Check;
  const std::string& dir = fuzz_files::ScratchDir("quarantine");
  fuzz_files::CheckRoundTrip<CQuarantineDataList>(dir, data, size, [](CQuarantineDataList& list) {
    int live = 0;
    for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
      const auto& server = *node->RecordAs<CQuarantineData>();
      Check(server.added == 1, "a stored server without its added flag");
      Check(server.protocol == "tcp" || server.protocol == "udp", "a stored protocol other than tcp or udp");
      Check(server.port != 0 && !server.sourceText.empty(), "a stored server without address or port");
      live += server.IsLive() ? 1 : 0;
    }
    return live;
  });
  return 0;
}
