#include "registry/CsvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "support/TextScan.h"

CsvLineReader::CsvLineReader(const char* path) : file_(std::fopen(path, "rb")) {}

char* CsvLineReader::Next() {
  if (!file_ || std::fgets(buffer_, sizeof buffer_, file_.get()) == nullptr) return nullptr;
  TrimRight(buffer_, " \r\n\t");
  return buffer_;
}

bool CsvLineReader::Failed() const { return file_ && std::ferror(file_.get()) != 0; }

CsvFileWriter::CsvFileWriter(const char* path, mode_t mode) : path_(path) {
  temporary_ = path_ + ".XXXXXX";
  const int fd = mkstemp(temporary_.data());
  if (fd < 0) return;
  if (fchmod(fd, mode) != 0 || (file_ = fdopen(fd, "wb")) == nullptr) {
    close(fd);
    unlink(temporary_.c_str());
    file_ = nullptr;
  }
}

CsvFileWriter::~CsvFileWriter() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  unlink(temporary_.c_str());
}

bool CsvFileWriter::Write(const std::string& line) {
  return file_ != nullptr && std::fwrite(line.data(), 1, line.size(), file_) == line.size();
}

bool CsvFileWriter::Commit() {
  if (file_ == nullptr) return false;
  const bool written = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!written || !closed || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    unlink(temporary_.c_str());
    return false;
  }
  return true;
}
