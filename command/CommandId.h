#pragma once

#include <cstdint>

// The console's commands by the id that a positive result carries to the controller
// ("VELNORCMD:WM_PROTOCOL_RECV" wParam). The controller walks the registry of the first
// five; the others change no rule.
enum class CommandId : std::uint32_t {
  kNac = 1,
  kGw = 2,
  kGwroute = 3,
  kPc = 4,
  kQuarantine = 5,
  kService = 6,
  kHelp = 7,
  kExit = 8,
  // Commands added above the console (insight's "acl") count on from here.
  kFirstExtension = 100,
};
