#pragma once

#include <cstddef>

namespace platform {

// A block of zeroed pages of its own, outside the heap: it grows in place where it can and
// goes back to the system the moment it is freed. For buffers that can grow far beyond
// their usual size, whose memory the heap would otherwise keep after them.
class MappedBlock {
 public:
  MappedBlock() = default;
  ~MappedBlock() { Free(); }
  MappedBlock(const MappedBlock&) = delete;
  MappedBlock& operator=(const MappedBlock&) = delete;

  // Makes the block at least size bytes (whole pages), keeping what it holds; the bytes
  // beyond are zero. False, the block unchanged, when there is no memory for it.
  [[nodiscard]] bool Resize(std::size_t size);
  void Free();

  char* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool Empty() const { return data_ == nullptr; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
