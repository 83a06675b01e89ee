#pragma once

#include <string>

namespace platform {

// The address text of the first network interface that is not loopback and has an IPv4
// address other than 0.0.0.0. False when the interface list cannot be had; an empty text
// when no interface qualifies.
[[nodiscard]] bool FirstInterfaceAddress(std::string& address);

}  // namespace platform
