// quarantine.csv reader on arbitrary file contents: no crash, no sanitizer finding, every
// stored record is valid and flagged added, and what was stored saves and loads back as
// the same records.

#include <cstddef>
#include <cstdint>

#include "registry/QuarantineDataList.h"
#include "tests/fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = fuzz_files::ScratchDir("quarantine");
  fuzz_files::CheckRoundTrip<CQuarantineDataList>(dir, data, size, [](CQuarantineDataList& list) {
    return fuzz_files::CountLive<CQuarantineData>(list, [](const CQuarantineData& s) {
      return (s.protocol == "tcp" || s.protocol == "udp") && s.port != 0 && !s.sourceText.empty();
    }, "a stored server without added flag, tcp or udp, address or port");
  });
  return 0;
}
