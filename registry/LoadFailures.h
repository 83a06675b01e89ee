#pragma once

#include <string>

// The registry files whose last load did not read them whole. Such a registry holds only
// part of its file, so its next save would destroy the rest: that first save keeps the old
// file whole as NAME.bak beside it. Shared by every registry and session; callable from
// any thread.

// Logs the failure at priority 3 and on standard error, naming the file and the line
// ("I failed in reading of PC data: pc.csv line 2.") or, with line 0, why the file could
// not be read; and remembers that the file's next save must keep a backup.
void LoadFailed(const char* dataName, const std::string& path, int line, const std::string& problem);
// The file was read whole: its next save replaces it as usual.
void LoadSucceeded(const std::string& path);

// When the last load of path failed: copies the file as it stands to PATH.bak (an older
// PATH.bak is first renamed PATH.bak.1, or the next free number) and forgets the failure.
// True when nothing had to be kept or it was kept; false leaves the demand for next time.
[[nodiscard]] bool KeepBackupIfDemanded(const std::string& path);
