// Ini-file reader and writer on arbitrary file contents: no crash, no sanitizer finding, a
// write reads back as written, and a write or delete of one key leaves the others alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"
#include "tests/fuzz/FuzzFiles.h"

using fuzz_files::Check;
using platform::ReadIniString;

namespace {

// The reader's blanks: "   \v\vK" and "k" are the same key to it.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// A name as the reader compares it: without blanks around it, in lower case.
std::string Folded(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  std::string out;
  for (char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static const std::string file = fuzz_files::ScratchDir("inifile") + "/f.ini";
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  fuzz_files::WriteAll(file, data.data(), data.size());

  // Names taken from the input too, so that lookups and writes hit entries that exist.
  std::vector<std::string> sections = {"s", "S", "Syslog", "", " a b "}, keys = {"k", "K", "key", "x", ""};
  const std::size_t open = data.find('['), close = data.find(']', open), eq = data.find('=');
  if (open != std::string_view::npos && close != std::string_view::npos && close - open < 40) {
    sections.emplace_back(data.substr(open + 1, close - open - 1));
  }
  if (eq != std::string_view::npos) {
    const std::size_t lineEnd = data.rfind('\n', eq), start = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
    if (eq - start < 40) keys.emplace_back(data.substr(start, eq - start));
  }

  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      for (std::size_t cut : {0, 1, 2, 8, 4096}) {
        const std::string value = ReadIniString(section, key, "dflt", cut, file);
        Check(cut == 0 ? value.empty() : value.size() <= cut - 1, "value not cut to size - 1");
      }
    }
  }

  // One write: the written key reads back, another key reads as before.
  const std::string &section = sections.back(), &key = keys.back(), &otherSection = sections.front();
  const std::string value(data.substr(size > 24 ? size - 24 : 0)), otherKey = "other";
  const bool sameEntry = Folded(otherSection) == Folded(section) && Folded(otherKey) == Folded(key);
  const std::string otherBefore = ReadIniString(otherSection, otherKey, "none", 4096, file);
  const std::string keyBefore = ReadIniString(section, "k", "none", 4096, file);
  if (!platform::WriteIniString(section, key, value, file)) return 0;
  Check(ReadIniString(section, key, "none", value.size() + 1, file) == value,
        "written value does not read back");
  Check(sameEntry || ReadIniString(otherSection, otherKey, "none", 4096, file) == otherBefore,
        "write changed another key");
  Check(platform::DeleteIniKey(section, key, file), "delete failed");
  Check(ReadIniString(section, key, "none", 4096, file) == "none", "deleted key still reads");
  Check(Folded(key) == "k" || ReadIniString(section, "k", "none", 4096, file) == keyBefore,
        "write and delete changed a neighbour key");
  return 0;
}
