// Ini-file reader and writer on arbitrary file contents: no crash, no sanitizer finding, a
// read gives what an independent reading of the file gives, a write reads back as written,
// and a write or delete of one key leaves the others alone.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"
#include "tests/fuzz/FuzzFiles.h"

using fuzz_files::Check;
using platform::ReadIniString;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The reader's blanks: "   \v\vK" and "k" are the same key to it.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A name as the reader compares it: without blanks around it, in lower case.
std::string Folded(std::string_view text) {
  std::string out;
  for (char c : Trimmed(text)) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

// An independent reading: the first line of the key in the first section of that name, its
// value without blanks around it and without a pair of outer quotes. A line ends at LF and
// its text at a NUL; comments start with ';'; a missing ']' takes the rest of the line.
std::optional<std::string> Reference(std::string_view file, std::string_view section, std::string_view key) {
  bool inSection = false;
  for (std::size_t begin = 0; begin < file.size();) {
    const std::size_t lf = std::min(file.find('\n', begin), file.size());
    const std::string_view whole = file.substr(begin, lf - begin);
    const std::string_view text = Trimmed(whole.substr(0, whole.find('\0')));
    begin = lf + 1;
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      if (inSection) return std::nullopt;
      inSection = Folded(text.substr(1, text.find(']') - 1)) == Folded(section);
      continue;
    }
    const std::size_t eq = text.find('=');
    if (!inSection || eq == kNone || Folded(text.substr(0, eq)) != Folded(key)) continue;
    std::string_view value = Trimmed(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

// A name, upper-cased and one character short: lookups hit entries that exist and just miss others.
void Take(std::vector<std::string>& names, std::string_view name) {
  if (names.size() >= 30 || name.size() > 40) return;
  std::string upper(name);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  names.emplace_back(name);
  names.push_back(upper);
  if (!name.empty()) names.emplace_back(name.substr(0, name.size() - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static const std::string file = fuzz_files::ScratchDir("inifile") + "/f.ini";
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  fuzz_files::WriteAll(file, data.data(), data.size());

  // Fixed names, and the names of the input's sections and keys.
  std::vector<std::string> sections = {"s", "Syslog", "", " a b "}, keys = {"k", "key", "x", ""};
  for (std::size_t begin = 0; begin < data.size();) {
    const std::size_t lf = std::min(data.find('\n', begin), data.size());
    const std::string_view line = data.substr(begin, lf - begin);
    begin = lf + 1;
    const std::size_t open = line.find('['), eq = line.find('=');
    if (open != kNone) {
      Take(sections, line.substr(open + 1, line.find(']', open) - open - 1));
    } else if (eq != kNone) {
      Take(keys, line.substr(0, eq));
    }
  }

  // Every value is the reference's, and the default without its trailing spaces and tabs.
  for (const std::string& section : sections) {
    for (const std::string& key : keys) {
      const std::string expected = Reference(data, section, key).value_or("dflt");
      Check(ReadIniString(section, key, "dflt \t", 4096, file) == expected.substr(0, 4095), "not the reference's value");
    }
  }
  // A result is cut to size - 1, a value found as the default.
  for (const std::string& key : {keys.back(), std::string("no such key")}) {
    const std::string expected = Reference(data, sections.back(), key).value_or("dflt");
    for (std::size_t cut : {0, 1, 2, 8}) {
      Check(ReadIniString(sections.back(), key, "dflt \t", cut, file) == expected.substr(0, cut == 0 ? 0 : cut - 1),
            "value not cut to size - 1");
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
