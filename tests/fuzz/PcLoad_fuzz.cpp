// pc.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back to the same file, record for record.

#include <cstddef>
#include <cstdint>

#include "registry/PcDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_files::CheckRoundTrip<CPcDataList>(fuzz_files::ScratchDir("pcload"), data, size, [](CPcDataList& list) {
    return fuzz_files::CountLive<CPcData>(list, [](const CPcData&) { return true; },
                                          "a stored PC without its added flag");
  });
  return 0;
}
