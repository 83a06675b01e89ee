#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Private-profile (ini) files with the Windows reading and writing rules. A file named
// without a directory is taken from the process's current working directory.

// Value of key in section of file, or the default when the file, the section or the key is
// missing or unreadable. Section and key names compare without regard to case (ASCII);
// blanks (space, tab, CR, VT, FF) around names and values are ignored; a value in matching
// double or single quotes loses them; the first section of a name and its first line of the
// key count. Trailing spaces and tabs of the default are dropped, as Windows does. The result
// is cut to size - 1 characters, as into a caller's buffer of that size (size 0 gives an
// empty text).
std::string ReadIniString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t size,
                                    const std::string& file);

// Sets key in section of file to value, creating the file, the section or the key as
// needed and keeping every other line byte for byte: an existing key line is replaced in
// place, a new key follows the last key line of its section, a new section goes at the end.
// New lines take the file's line end (CR LF for a file without one). A value that would not
// read back unchanged (outer blanks or outer quotes) is written in double quotes. The file
// is replaced through a temporary file, fsync and a rename; a new file gets mode 0644.
// Returns false, leaving the file as it was, when it cannot be written or when a name or the
// value holds a line break or NUL (or a key name holds '=' or starts with ';' or '[', or a
// section name holds ']').
[[nodiscard]] bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                                  const std::string& file);

// Removes key from section (the rest of the file stays). True when the file is as asked
// afterwards, including when the key was not there.
[[nodiscard]] bool DeleteIniKey(const std::string& section, const std::string& key, const std::string& file);

}  // namespace platform
