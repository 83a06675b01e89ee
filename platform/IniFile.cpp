#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace platform {
namespace {

// Reads, writes and deletes share one parser, so whatever a write puts down is exactly what
// the next read finds. The rules:
// - lines end at LF; one CR before the LF is part of the line end, not of the text;
// - a NUL byte ends the text of its line: the rest of that line up to its LF is ignored;
// - "[name]" after optional blanks opens a section (blanks around the name are dropped; a
//   missing ']' takes the rest of the text); only the first section of a name counts;
// - a line whose first non-blank character is ';' is a comment;
// - "key=value" is a key line, split at the first '='; lines without '=' are ignored;
// - within a section the first line with a key wins.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::size_t begin = 0;  // offset of the line in the file
  std::size_t end = 0;    // offset just past its line end (LF or CR LF), if any
  std::size_t textEnd = 0;  // offset where the line end starts
  bool hasLf = false;       // false only for a last line without a line end
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes still on
};

Line ParseLine(std::string_view file, std::size_t begin) {
  Line line;
  line.begin = begin;
  const std::size_t lf = file.find('\n', begin);
  line.end = lf == std::string_view::npos ? file.size() : lf + 1;
  line.textEnd = lf == std::string_view::npos ? file.size() : lf;
  line.hasLf = lf != std::string_view::npos;
  if (line.textEnd > begin && file[line.textEnd - 1] == '\r') --line.textEnd;

  std::string_view text = file.substr(begin, line.textEnd - begin);
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  text = Trim(text);
  if (text.empty() || text.front() == ';') return line;
  if (text.front() == '[') {
    text.remove_prefix(1);
    const std::size_t close = text.find(']');
    line.kind = LineKind::kSection;
    line.name = Trim(text.substr(0, close));
    return line;
  }
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return line;
  line.kind = LineKind::kKey;
  line.name = Trim(text.substr(0, eq));
  line.value = Trim(text.substr(eq + 1));
  return line;
}

std::vector<Line> ParseFile(std::string_view file) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < file.size()) {
    lines.push_back(ParseLine(file, pos));
    pos = lines.back().end;
  }
  return lines;
}

// Where a key stands in a parsed file: the first section of the name (none: npos), the line
// after its last key line (or after its header), and the first line of the key (none: npos).
struct KeySpot {
  std::size_t section = std::string_view::npos;
  std::size_t insertAfter = std::string_view::npos;
  std::size_t key = std::string_view::npos;
};

KeySpot FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  KeySpot spot;
  std::size_t i = 0;
  while (i < lines.size() &&
         !(lines[i].kind == LineKind::kSection && SameName(lines[i].name, section))) {
    ++i;
  }
  if (i == lines.size()) return spot;
  spot.section = i;
  spot.insertAfter = i;
  for (++i; i < lines.size() && lines[i].kind != LineKind::kSection; ++i) {
    if (lines[i].kind != LineKind::kKey) continue;
    spot.insertAfter = i;
    if (spot.key == std::string_view::npos && SameName(lines[i].name, key)) spot.key = i;
  }
  return spot;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The whole file, or nothing when it is missing or cannot be read. missing tells the two
// apart for the writer, which may create a missing file but must not replace one it could
// not read. Only a regular file is read: a FIFO would hold the reader for ever, a device
// might never end.
std::optional<std::string> ReadWholeFile(const std::string& path, bool* missing) {
  if (missing != nullptr) *missing = false;
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (missing != nullptr) *missing = (errno == ENOENT);
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Replaces path with content so that a crash leaves either the old or the new file whole:
// a temporary file beside it, flushed to disk, renamed over it. A new file gets mode 0644;
// an existing one keeps its mode and, where allowed, its owner.
bool ReplaceFile(const std::string& requested, const std::string& content) {
  // Writing through a symbolic link updates its target instead of replacing the link.
  std::string path = requested;
  struct stat linkInfo {};
  if (::lstat(requested.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    char* resolved = ::realpath(requested.c_str(), nullptr);
    if (resolved == nullptr) return false;
    path = resolved;
    std::free(resolved);
  }
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) return false;

  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, existed ? (old.st_mode & 07777) : 0644) == 0;
  if (ok && existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    (void)!::fchown(fd, old.st_uid, old.st_gid);
  }
  ok = ok && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk too; a failure here leaves a whole file anyway.
  const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

// New lines follow the file's own convention; a file without any line end gets CR LF.
std::string_view LineEndOf(std::string_view file) {
  const std::size_t lf = file.find('\n');
  if (lf != std::string_view::npos && (lf == 0 || file[lf - 1] != '\r')) return "\n";
  return "\r\n";
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A value that the reader would change (outer blanks, or a pair of outer quotes) is written
// inside double quotes, so that it reads back as written.
std::string ValueAsWritten(std::string_view value) {
  const bool readsBack =
      Trim(value).size() == value.size() && Unquote(value).size() == value.size();
  if (readsBack) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted += '"';
  quoted += value;
  quoted += '"';
  return quoted;
}

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::string ReadIniString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t size,
                                    const std::string& file) {
  if (size == 0) return {};
  const std::size_t limit = size - 1;
  auto cut = [limit](std::string_view text) { return std::string(text.substr(0, limit)); };

  const std::optional<std::string> content = ReadWholeFile(file, nullptr);
  if (content) {
    const std::vector<Line> lines = ParseFile(*content);
    const KeySpot spot = FindKey(lines, Trim(section), Trim(key));
    if (spot.key != std::string_view::npos) return cut(Unquote(lines[spot.key].value));
  }
  // As on Windows, trailing blanks of the default are dropped.
  std::string_view fallback = defaultValue;
  while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) {
    fallback.remove_suffix(1);
  }
  return cut(fallback);
}

bool WriteIniString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  // Names and values that could not be read back as the same entry (or would split into
  // extra lines) are refused rather than written.
  if (HasLineBreakOrNul(sectionName) || sectionName.find(']') != std::string_view::npos ||
      keyName.empty() || HasLineBreakOrNul(keyName) ||
      keyName.find('=') != std::string_view::npos || keyName.front() == ';' ||
      keyName.front() == '[' || HasLineBreakOrNul(value)) {
    return false;
  }

  std::lock_guard<std::mutex> lock(WriteMutex());
  bool missing = false;
  std::optional<std::string> content = ReadWholeFile(file, &missing);
  if (!content && !missing) return false;
  const std::string old = content ? std::move(*content) : std::string();

  const std::string_view eol = LineEndOf(old);
  std::string keyLine;
  keyLine.append(keyName).append("=").append(ValueAsWritten(value));

  const std::vector<Line> lines = ParseFile(old);
  const KeySpot spot = FindKey(lines, sectionName, keyName);
  std::string updated;
  updated.reserve(old.size() + keyLine.size() + sectionName.size() + 8);
  if (spot.key != std::string_view::npos) {
    const Line& line = lines[spot.key];
    updated.append(old, 0, line.begin);
    updated.append(keyLine);
    updated.append(old, line.textEnd, std::string::npos);
  } else if (spot.section != std::string_view::npos) {
    const Line& after = lines[spot.insertAfter];
    updated.append(old, 0, after.end);
    if (!after.hasLf) updated.append(eol);
    updated.append(keyLine).append(eol);
    updated.append(old, after.end, std::string::npos);
  } else {
    updated = old;
    if (!updated.empty() && updated.back() != '\n') updated.append(eol);
    updated.append("[").append(sectionName).append("]").append(eol);
    updated.append(keyLine).append(eol);
  }
  return ReplaceFile(file, updated);
}

bool DeleteIniKey(const std::string& section, const std::string& key,
                             const std::string& file) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  bool missing = false;
  const std::optional<std::string> content = ReadWholeFile(file, &missing);
  if (!content) return missing;

  const std::vector<Line> lines = ParseFile(*content);
  const KeySpot spot = FindKey(lines, Trim(section), Trim(key));
  if (spot.key == std::string_view::npos) return true;

  // Every line of the key in that section goes, so that no later duplicate shows through.
  std::string updated;
  updated.reserve(content->size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    const bool inSection = i > spot.section && i <= spot.insertAfter;
    if (inSection && line.kind == LineKind::kKey && SameName(line.name, Trim(key))) continue;
    updated.append(*content, line.begin, line.end - line.begin);
  }
  return ReplaceFile(file, updated);
}

}  // namespace platform
