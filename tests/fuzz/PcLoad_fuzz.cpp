// pc.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back to the same file, record for record.

#include <cstddef>
#include <cstdint>

#include "registry/PcDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_files::CheckRoundTrip<CPcDataList>(fuzz_files::ScratchDir("pcload"), data, size, [](CPcDataList& list) {
    int live = 0;
    for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
      const CPcData& record = *node->RecordAs<CPcData>();
      fuzz_files::Check(record.added == 1, "a stored PC without its added flag");
      live += record.IsLive() ? 1 : 0;
    }
    return live;
  });
  return 0;
}
