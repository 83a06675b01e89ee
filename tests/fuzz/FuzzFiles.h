#pragma once

// The file harness of the fuzzers that load registry files: one scratch directory for the
// run, and the input written to a file there. Header-only: each fuzzer is built alone.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fuzz_files {

inline std::string g_scratchDir;

inline void RemoveScratchDir() { std::filesystem::remove_all(g_scratchDir); }

// Makes the run's directory, "velnor-<name>-fuzz-XXXXXX", removed when the fuzzer exits;
// in memory where there is such a file system, because every save syncs its file. Call it
// once per run (from a function-local static); aborts when no directory can be made.
inline std::string MakeScratchDir(const char* name) {
  const std::string leaf = std::string("/velnor-") + name + "-fuzz-XXXXXX";
  std::string inMemory = "/dev/shm" + leaf;
  std::string onDisk = "/tmp" + leaf;
  const char* made = mkdtemp(inMemory.data());
  if (made == nullptr) made = mkdtemp(onDisk.data());
  if (made == nullptr) abort();
  g_scratchDir = made;
  atexit(RemoveScratchDir);
  return g_scratchDir;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The readers cut lines at 4095 bytes, so a longer saved line (long runs of leading zeros
// in an address or port, long names) cannot come back whole.
inline bool LinesFitTheReader(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    if (end - start + 1 > 4095) return false;
    start = end + 1;
  }
  return true;
}

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "registry file invariant broken: %s\n", what);
    abort();
  }
}

// The round trip of a registry file that loads with List::Load: a fresh list holds only
// live records, a snapshot keeps them all, and a save loads back to the same records and
// saves again to the same bytes. Some values come back normalised (an empty password as
// the default), so the second save is the one that must stay stable.
template <class List, class LiveCount>
void CheckRoundTrip(const std::string& dir, const void* data, std::size_t size, LiveCount liveCount) {
  const std::string input = dir + "/input.csv";
  const std::string saved = dir + "/saved.csv";
  const std::string again = dir + "/again.csv";
  WriteAll(input, data, size);

  List first;
  first.Load(input.c_str());
  const int live = liveCount(first);
  Check(live == first.GetCount(false), "a fresh registry holds a withdrawn record");
  List copy;
  Check(first.CopyAll(&copy) == live, "snapshot lost records");

  Check(first.Save(saved.c_str()) == 0, "save failed");
  if (!LinesFitTheReader(ReadAll(saved))) return;
  List second;
  Check(second.Load(saved.c_str()) == 0, "saved file does not load");
  Check(liveCount(second) == live, "reload changed the number of records");
  Check(second.Save(saved.c_str()) == 0, "second save failed");
  const std::string text = ReadAll(saved);
  List third;
  Check(third.Load(saved.c_str()) == 0 && liveCount(third) == live, "second save does not load");
  Check(third.Save(again.c_str()) == 0 && ReadAll(again) == text, "reload saves differently");
}

}  // namespace fuzz_files
