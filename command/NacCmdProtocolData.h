#pragma once

#include <cstdint>
#include <vector>

#include "command/AutoSave.h"
#include "list/NacListItem.h"
#include "platform/MappedBlock.h"

// One byte block of a session: the line being collected, or a reply block waiting in the
// send queue. The block starts at 256 zero bytes and grows geometrically; its contents are
// always terminated by a zero byte within the block. Past kMappedFrom bytes it moves to
// pages of its own, which go back to the system as soon as the block is given back: a line
// of megabytes must not leave the heap that much larger after its session.
class CNacCmdProtocolData final : public CNacListItem {
 public:
  static constexpr std::uint32_t kStep = 256;
  static constexpr std::uint32_t kMappedFrom = 64 * 1024;

  CNacCmdProtocolData() = default;
  ~CNacCmdProtocolData() override;

  bool HasBlock() const { return !small_.empty() || !mapped_.Empty(); }
  // Makes the first block, or gives a larger one back for it; false when memory runs out.
  [[nodiscard]] bool Allocate();
  // Makes room for at least size bytes, zero-filled, at least doubling the block; false
  // (the block unchanged) when memory runs out.
  [[nodiscard]] bool GrowTo(std::uint32_t size);

  char* Buffer() { return mapped_.Empty() ? small_.data() : mapped_.Data(); }
  std::uint32_t Capacity() const {
    return static_cast<std::uint32_t>(mapped_.Empty() ? small_.size() : mapped_.Size());
  }

  std::uint32_t length = 0;  // bytes collected, or to be sent
  AutoSave::Ticket saveFirst;  // a prompt's: the change saved before it goes

 private:
  std::vector<char> small_;
  platform::MappedBlock mapped_;
};
