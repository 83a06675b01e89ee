#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

// Reads a registry file line by line, each line at most 4095 bytes: a longer line comes in
// pieces, each taken as a line of its own. Trailing blanks, tabs, CR and LF are cut; a NUL
// byte ends the line's text.
class CsvLineReader {
 public:
  explicit CsvLineReader(const char* path);
  bool IsOpen() const { return file_ != nullptr; }
  // The next line, in the reader's own buffer (valid until the next call), or nullptr at
  // the end of the file or on a read error.
  char* Next();
  bool Failed() const;

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  char buffer_[4096];
};

// Writes a registry file as a whole: the lines go to a new file beside the old one, which
// is renamed over it only when everything was written, so a failed save (full disk, a
// crash) leaves the previous file as it was.
class CsvFileWriter {
 public:
  CsvFileWriter(const char* path, mode_t mode);
  ~CsvFileWriter();
  CsvFileWriter(const CsvFileWriter&) = delete;
  CsvFileWriter& operator=(const CsvFileWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Appends one line; the caller gives the CR LF. False on a short write.
  bool Write(const std::string& line);
  // Flushes, syncs and puts the file in place. False when any of that fails.
  bool Commit();

 private:
  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};
