#pragma once

// The file harness of the fuzzers that read files, and a check that aborts naming what broke.
// Header-only: each fuzzer is built alone.

#include <stdlib.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "list/NacList.h"
#include "support/Syslog.h"

namespace fuzz_files {

// The run's directory, "velnor-<name>-fuzz-XXXXXX", made at the first call and removed at
// exit; in memory where there is such a file system, because every save syncs its file.
// No log line may leave the machine while fuzzing.
inline const std::string& ScratchDir(const char* name) {
  static const std::string dir = [name] {
    SetLogThreshold(0);
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string path = std::string(base) + "/velnor-" + name + "-fuzz-XXXXXX";
      if (mkdtemp(path.data()) != nullptr) return path;
    }
    abort();
  }();
  [[maybe_unused]] static const int removal = atexit([] { std::filesystem::remove_all(dir); });
  return dir;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const void* data, std::size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(static_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
}

// The readers cut lines at 4095 bytes, so a longer saved line (long runs of leading zeros
// in an address or port, long names) cannot come back whole.
inline bool LinesFitTheReader(const std::string& text) {
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    if (end - start + 1 > 4095) return false;
  }
  return true;
}

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

// The round trip of a registry file that loads with List::Load: a fresh list holds only
// live records, a snapshot keeps them all, and a save loads back to the same records and
// saves again to the same bytes. Some values come back normalised (an empty password as
// the default), so the second save is the one that must stay stable.
template <class List, class LiveCount>
void CheckRoundTrip(const std::string& dir, const void* data, std::size_t size, LiveCount liveCount) {
  const std::string input = dir + "/input.csv", saved = dir + "/saved.csv", again = dir + "/again.csv";
  WriteAll(input, data, size);
  List first;
  const int loaded = first.Load(input.c_str());
  Check(loaded == 0 || loaded == -1, "load gave neither 0 nor -1");
  const int live = liveCount(first);
  Check(live == first.GetCount(false), "a fresh registry holds a withdrawn record");
  List copy;
  Check(first.CopyAll(&copy) == live, "snapshot lost records");

  Check(first.Save(saved.c_str()) == 0, "save failed");
  if (!LinesFitTheReader(ReadAll(saved))) return;
  List second;
  Check(second.Load(saved.c_str()) == 0 && liveCount(second) == live, "the saved file does not load the same");
  Check(second.Save(saved.c_str()) == 0, "second save failed");
  const std::string text = ReadAll(saved);
  List third;
  Check(third.Load(saved.c_str()) == 0 && liveCount(third) == live, "second save does not load");
  Check(third.Save(again.c_str()) == 0 && ReadAll(again) == text, "reload saves differently");
}

// The live records of a loaded list, each first held to what every stored record must be.
template <class Record, class List, class Valid>
int CountLive(List& list, Valid valid, const char* what) {
  int live = 0;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const Record& record = *node->RecordAs<Record>();
    Check(record.added == 1 && valid(record), what);
    live += record.IsLive() ? 1 : 0;
  }
  return live;
}

}  // namespace fuzz_files
