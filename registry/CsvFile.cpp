#include "registry/CsvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "registry/LoadFailures.h"

namespace {

constexpr std::size_t kPieceSize = 4095;  // a line as one 4096-byte buffer holds it
constexpr std::size_t kChunkSize = 65536;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBlankPiece(const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (!IsBlank(bytes[i])) return false;
  }
  return true;
}

}  // namespace

CsvLineReader::CsvLineReader(const char* path, const std::atomic<int>* stop) : stop_(stop) {
  // Without O_NONBLOCK the open of a FIFO waits for a writer that never comes.
  fd_.Reset(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd_) {
    if (errno == ENOENT) return;
    state_ = State::kUnreadable;
    problem_ = std::strerror(errno);
    return;
  }
  struct stat info {};
  if (::fstat(fd_.Get(), &info) != 0) {
    state_ = State::kUnreadable;
    problem_ = std::strerror(errno);
    fd_.Reset();
    return;
  }
  if (!S_ISREG(info.st_mode)) {
    state_ = State::kUnreadable;
    problem_ = "not a regular file";
    fd_.Reset();
    return;
  }
  chunk_ = std::make_unique_for_overwrite<char[]>(kPieceSize + kChunkSize);
  size_ = static_cast<std::uint64_t>(info.st_size);
  const int flags = ::fcntl(fd_.Get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK);
  state_ = State::kReading;
}

bool CsvLineReader::Fill() {
  if (eof_ || failed_) return false;
  // What is left is less than a piece, or Next would not have asked for more.
  const std::size_t kept = chunkEnd_ - chunkPos_;
  std::memmove(chunk_.get(), chunk_.get() + chunkPos_, kept);
  chunkPos_ = 0;
  chunkEnd_ = kept;
  ssize_t got;
  do {
    got = ::read(fd_.Get(), chunk_.get() + kept, kChunkSize);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    failed_ = true;
    problem_ = std::strerror(errno);
  }
  if (got > 0) {
    chunkEnd_ += static_cast<std::size_t>(got);
    read_ += static_cast<std::uint64_t>(got);
  } else {
    eof_ = true;
  }
  return got > 0;
}

char* CsvLineReader::Next() {
  if (!IsOpen()) return nullptr;
  for (;;) {
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed) != 0) {
      stopped_ = true;
      return nullptr;
    }
    // A piece ends after its LF, or after 4095 bytes, or at the end of the file.
    const char* lf = nullptr;
    while (true) {
      const std::size_t available = chunkEnd_ - chunkPos_;
      lf = static_cast<const char*>(std::memchr(chunk_.get() + chunkPos_, '\n', std::min(available, kPieceSize)));
      if (lf != nullptr || available >= kPieceSize) break;
      if (!Fill()) break;
    }
    const std::size_t available = chunkEnd_ - chunkPos_;
    if (atStart_) {
      atStart_ = false;
      if (available >= 3 && std::memcmp(chunk_.get() + chunkPos_, kByteOrderMark, 3) == 0) {
        chunkPos_ += 3;
        continue;
      }
    }
    if (available == 0) return nullptr;
    char* piece = chunk_.get() + chunkPos_;
    const std::size_t size = lf != nullptr ? static_cast<std::size_t>(lf - piece) + 1 : std::min(available, kPieceSize);
    chunkPos_ += size;
    lineNumber_ = linesDone_ + 1;
    if (lf != nullptr) ++linesDone_;
    if (IsBlankPiece(piece, size)) continue;
    // The text ends at a NUL byte, if any, and loses its trailing blanks.
    const auto* nul = static_cast<const char*>(std::memchr(piece, '\0', size));
    std::size_t length = nul != nullptr ? static_cast<std::size_t>(nul - piece) : size;
    while (length > 0 && IsBlank(piece[length - 1])) --length;
    // Handed out where it lies when a byte of the piece after the text (a cut blank, the
    // NUL, the line end) can take the terminating zero; copied out otherwise.
    if (length < size) {
      piece[length] = '\0';
      return piece;
    }
    std::memcpy(buffer_, piece, length);
    buffer_[length] = '\0';
    return buffer_;
  }
}

namespace {

std::mutex& WriterTurn() {
  static std::mutex turn;
  return turn;
}

}  // namespace

CsvFileWriter::CsvFileWriter(const char* path, mode_t mode) : turn_(WriterTurn()), path_(path) {
  temporary_ = path_ + ".XXXXXX";
  const int fd = mkostemp(temporary_.data(), O_CLOEXEC);
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
  if (!written || !closed || !KeepBackupIfDemanded(path_) || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    unlink(temporary_.c_str());
    return false;
  }
  // The rename must reach the disk too, or a power cut may bring the old file back after
  // its change was acknowledged. A failure here still leaves one whole file.
  const std::size_t slash = path_.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)fsync(dir);
    close(dir);
  }
  return true;
}
