// gw.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back with the same gateways.

#include <cstddef>
#include <cstdint>

#include "registry/GwDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_files::CheckRoundTrip<CGwDataList>(fuzz_files::ScratchDir("gwload"), data, size, [](CGwDataList& list) {
    int live = 0;
    for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
      const CGwData& record = *node->RecordAs<CGwData>();
      fuzz_files::Check(record.port != 0 && record.added == 1, "a stored gateway without port or added flag");
      live += record.IsLive() ? 1 : 0;
    }
    return live;
  });
  return 0;
}
