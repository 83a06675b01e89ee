#pragma once

#include <cstdint>
#include <vector>

#include "list/NacListItem.h"

// One byte block of a session: the line being collected, or a reply block waiting in the
// send queue. The block starts at 256 zero bytes and grows geometrically; its contents are
// always terminated by a zero byte within the block.
class CNacCmdProtocolData final : public CNacListItem {
 public:
  static constexpr std::uint32_t kStep = 256;

  CNacCmdProtocolData() = default;
  ~CNacCmdProtocolData() override;

  bool HasBlock() const { return !block_.empty(); }
  // Makes the first block, or gives a larger one back for it; false when memory runs out.
  [[nodiscard]] bool Allocate();
  // Makes room for at least size bytes, zero-filled, at least doubling the block; false
  // (the block unchanged) when memory runs out.
  [[nodiscard]] bool GrowTo(std::uint32_t size);

  char* Buffer() { return block_.data(); }
  std::uint32_t Capacity() const { return static_cast<std::uint32_t>(block_.size()); }

  std::uint32_t length = 0;  // bytes collected, or to be sent

 private:
  std::vector<char> block_;
};
