// gw.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back with the same gateways.

#include <cstddef>
#include <cstdint>

#include "registry/GwDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_files::CheckRoundTrip<CGwDataList>(fuzz_files::ScratchDir("gwload"), data, size, [](CGwDataList& list) {
    return fuzz_files::CountLive<CGwData>(list, [](const CGwData& g) { return g.port != 0; },
                                          "a stored gateway without port or added flag");
  });
  return 0;
}
