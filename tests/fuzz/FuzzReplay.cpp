// A main for a fuzz target built without libFuzzer: runs the target once on every file of
// the folders named on the command line (the kept seeds and past findings), so that the
// normal and sanitizer builds check them like any unit test. A target that aborts, traps
// or trips a sanitizer ends the run, and the input it was on is the last one named.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional in a target, as with libFuzzer.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  // Each folder's files in name order, so that runs are the same everywhere; a folder that
  // is not there holds nothing (a target without findings has no findings folder).
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    const fs::path folder = fs::absolute(argv[i], error);  // a target may change directory
    if (!fs::exists(folder, error)) continue;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
  }
  // A replay of nothing would pass whatever the target does: a wrong path must not.
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no input in the folders given\n");
    return 1;
  }
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 1;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A buffer of exactly the input's size, as libFuzzer gives: a read past it is a finding.
    const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs, no finding\n", inputs.size());
  return 0;
}
