#include "command/NacCmdProtocolData.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

CNacCmdProtocolData::~CNacCmdProtocolData() = default;

bool CNacCmdProtocolData::Allocate() {
  mapped_.Free();
  try {
    if (small_.size() > kStep) std::vector<char>().swap(small_);
    small_.assign(kStep, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CNacCmdProtocolData::GrowTo(std::uint32_t size) {
  const std::uint32_t capacity = Capacity();
  if (size <= capacity) return true;
  constexpr std::uint32_t kMost = std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t wanted = std::max(size, capacity > kMost / 2 ? kMost : capacity * 2);
  if (wanted <= kMappedFrom) {
    try {
      small_.resize(wanted, '\0');
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  const bool moving = mapped_.Empty();
  if (!mapped_.Resize(wanted)) return false;
  if (moving) {
    std::memcpy(mapped_.Data(), small_.data(), small_.size());
    std::vector<char>().swap(small_);
  }
  return true;
}
