#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/UniqueFd.h"

// Reads a registry file line by line, each line at most 4095 bytes: a longer line comes in
// pieces, each taken as a line of its own. Trailing blanks, tabs, CR and LF are cut; a NUL
// byte ends the line's text. A UTF-8 byte-order mark at the start (a spreadsheet's save)
// and lines of nothing but blanks, tabs, CR and LF (an editor's last line) are passed over.
//
// Only a regular file is read: a FIFO or a device would hold the reader for ever. A stop
// flag, when given, ends the reading at the next line once it is set.
class CsvLineReader {
 public:
  enum class State {
    kReading,     // open; Next gives lines
    kMissing,     // there is no such file
    kUnreadable,  // it exists but cannot be read (Problem says why)
  };

  explicit CsvLineReader(const char* path, const std::atomic<int>* stop = nullptr);

  State Opened() const { return state_; }
  bool IsOpen() const { return state_ == State::kReading; }
  // The next line, in the reader's own buffer (valid until the next call), or nullptr at
  // the end of the file, on a read error or once the stop flag is set.
  char* Next();
  // The file's line (from 1) that the last line given came from.
  int LineNumber() const { return lineNumber_; }
  bool Failed() const { return failed_; }
  bool Stopped() const { return stopped_; }
  // Why the file could not be opened or read; empty when it could.
  const std::string& Problem() const { return problem_; }
  // The file's size when it was opened, and how many of its bytes the lines given so far
  // took: how far the reading has come.
  std::uint64_t Size() const { return size_; }
  std::uint64_t Done() const { return read_ - (chunkEnd_ - chunkPos_); }

 private:
  // Brings more of the file into the chunk; false at its end or on an error.
  [[nodiscard]] bool Fill();

  platform::UniqueFd fd_;
  State state_ = State::kMissing;
  const std::atomic<int>* stop_;
  bool failed_ = false;
  bool stopped_ = false;
  bool atStart_ = true;
  std::string problem_;
  int lineNumber_ = 0;
  int linesDone_ = 0;  // line ends passed so far
  // Bytes read and not yet handed out, from chunkPos_ to chunkEnd_: at most a piece left
  // over, and then a chunk read behind it.
  std::unique_ptr<char[]> chunk_;
  std::size_t chunkPos_ = 0;
  std::size_t chunkEnd_ = 0;
  bool eof_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t read_ = 0;  // bytes read from the file into the chunk
  char buffer_[4096];
};

// Writes a registry file as a whole: the lines go to a new file beside the old one, which
// is renamed over it only when everything was written, so a failed save (full disk, a
// crash) leaves the previous file as it was. When the last load of the file failed, the
// old file is first kept whole as NAME.bak (see LoadFailures.h).
//
// One writer lives at a time in the process, each from its making to its end: two sessions
// saving one registry then rename in the order they took their records, so an older copy of
// a registry never lands over a newer one.
class CsvFileWriter {
 public:
  CsvFileWriter(const char* path, mode_t mode);
  ~CsvFileWriter();
  CsvFileWriter(const CsvFileWriter&) = delete;
  CsvFileWriter& operator=(const CsvFileWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Appends one line; the caller gives the CR LF. False on a short write.
  [[nodiscard]] bool Write(const std::string& line);
  // Flushes, syncs and puts the file in place. False when any of that fails, the keeping
  // of a backup included.
  [[nodiscard]] bool Commit();

 private:
  std::unique_lock<std::mutex> turn_;  // first: held until the file is closed and removed
  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};
