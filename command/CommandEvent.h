#pragma once

#include <cstdint>

// What a command changed, as its handler's positive result tells the controller (beside
// the command's id). The controller acts on the registries' flags, not on the code, so the
// code only says which kind of change set them.
namespace command_event {
inline constexpr std::int32_t kAdd = 1;    // add, or service set
inline constexpr std::int32_t kDel = 2;    // del, whether or not a record matched
inline constexpr std::int32_t kLoad = 3;   // load ran (for gwroute and service: read whole)
inline constexpr std::int32_t kClear = 4;  // clear marked every record
}  // namespace command_event
