// Profile reader and writer on arbitrary file contents: no crash, no sanitizer finding, a
// write reads back as written, and a write or delete of one key leaves the others alone.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Profile.h"
#include "tests/fuzz/FuzzFiles.h"

namespace {

// The one file of the run, in its scratch directory (see MakeScratchDir).
const std::string& FuzzFile() {
  static const std::string path = fuzz_files::MakeScratchDir("profile") + "/f.ini";
  return path;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string out;
  for (char c : text) out += Lower(c);
  return out;
}

// Names taken from the input itself, so lookups and writes hit entries that exist.
void NamesFromInput(std::string_view data, std::vector<std::string>* sections,
                    std::vector<std::string>* keys) {
  const std::size_t open = data.find('[');
  if (open != std::string_view::npos) {
    const std::size_t close = data.find(']', open);
    if (close != std::string_view::npos && close - open < 40) {
      sections->emplace_back(data.substr(open + 1, close - open - 1));
    }
  }
  const std::size_t eq = data.find('=');
  if (eq != std::string_view::npos) {
    std::size_t start = data.rfind('\n', eq);
    start = start == std::string_view::npos ? 0 : start + 1;
    if (eq - start < 40) keys->emplace_back(data.substr(start, eq - start));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string& file = FuzzFile();
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  std::vector<std::string> sections = {"s", "S", "Syslog", "", " a b "};
  std::vector<std::string> keys = {"k", "K", "key", "x", ""};
  NamesFromInput(data, &sections, &keys);

  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{8},
                              std::size_t{4096}}) {
        const std::string value =
            platform::GetPrivateProfileString(section, key, "dflt", cut, file);
        fuzz_files::Check(cut == 0 ? value.empty() : value.size() <= cut - 1, "value not cut to size - 1");
      }
    }
  }

  // One write: the written key reads back, another key reads as before.
  const std::string& section = sections.back();
  const std::string& key = keys.back();
  const std::string value(data.substr(size > 24 ? size - 24 : 0));
  const std::string& otherSection = sections.front();
  const std::string otherKey = "other";
  const bool sameEntry = Folded(otherSection) == Folded(section) && Folded(otherKey) == Folded(key);
  const std::string otherBefore =
      platform::GetPrivateProfileString(otherSection, otherKey, "none", 4096, file);
  const std::string keyBefore = platform::GetPrivateProfileString(section, "k", "none", 4096, file);

  if (platform::WritePrivateProfileString(section, key, value, file)) {
    fuzz_files::Check(platform::GetPrivateProfileString(section, key, "none", value.size() + 1, file) ==
              value,
          "written value does not read back");
    if (!sameEntry) {
      fuzz_files::Check(platform::GetPrivateProfileString(otherSection, otherKey, "none", 4096, file) ==
                otherBefore,
            "write changed another key");
    }
    fuzz_files::Check(platform::DeletePrivateProfileKey(section, key, file), "delete failed");
    fuzz_files::Check(platform::GetPrivateProfileString(section, key, "none", 4096, file) == "none",
          "deleted key still reads");
    if (Folded(key) != "k") {
      fuzz_files::Check(platform::GetPrivateProfileString(section, "k", "none", 4096, file) == keyBefore,
            "write and delete changed a neighbour key");
    }
  }
  return 0;
}
