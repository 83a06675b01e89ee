#include "command/NacCmdProtocolData.h"

#include <algorithm>
#include <limits>
#include <new>

CNacCmdProtocolData::~CNacCmdProtocolData() = default;

bool CNacCmdProtocolData::Allocate() {
  try {
    if (block_.size() > kStep) std::vector<char>().swap(block_);
    block_.assign(kStep, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CNacCmdProtocolData::GrowTo(std::uint32_t size) {
  if (size <= block_.size()) return true;
  constexpr std::uint32_t kMost = std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t doubled = block_.size() > kMost / 2 ? kMost : static_cast<std::uint32_t>(block_.size() * 2);
  try {
    block_.resize(std::max(size, doubled), '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
