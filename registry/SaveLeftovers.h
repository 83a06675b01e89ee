#pragma once

#include <span>
#include <string>

// Files are saved through a temporary "NAME.XXXXXX" beside them (see CsvFileWriter). A save
// that is killed half-way (power loss, kill -9, the out-of-memory killer) leaves that
// temporary behind, and a crash loop would fill the directory with them.

// Removes from directory every regular file named after one of names (or its backup,
// "NAME.bak") followed by a dot and six letters or digits; gives how many were removed.
int RemoveSaveLeftovers(const std::string& directory, std::span<const char* const> names);
