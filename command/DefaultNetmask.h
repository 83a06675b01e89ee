#pragma once

#include <cstdint>

// The netmask of a network given without one, by the class of its first octet; none for
// a first octet of 248 or more. network holds the four bytes in network order.
const char* DefaultNetmask(std::uint32_t network);
