#include "command/NacCmdProtocolData.h"

#include <new>

CNacCmdProtocolData::~CNacCmdProtocolData() = default;

bool CNacCmdProtocolData::Allocate() {
  try {
    block_.assign(kStep, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CNacCmdProtocolData::Grow() {
  try {
    // resize grows the reservation geometrically, so a long line costs linear time.
    block_.resize(block_.size() + kStep, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
