#include "platform/MappedBlock.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

std::size_t WholePages(std::size_t size) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

}  // namespace

bool MappedBlock::Resize(std::size_t size) {
  const std::size_t pages = WholePages(size);
  if (pages <= size_) return true;
  void* block = data_ == nullptr ? ::mmap(nullptr, pages, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                 : ::mremap(data_, size_, pages, MREMAP_MAYMOVE);
  if (block == MAP_FAILED) return false;
  data_ = static_cast<char*>(block);
  size_ = pages;
  return true;
}

void MappedBlock::Free() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace platform
