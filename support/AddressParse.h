#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Validators and printers for the address forms the service exchanges. An IPv4 address,
// network or netmask is four bytes in network order (first octet first); a MAC address is
// six bytes; a port is 1 to 65535, 0 meaning none.

// "00:11:22:AA:BB:CC", "00-11-22-aa-bb-cc" or "001122aabbcc": 0 and out filled, else -1.
// A failure may leave the leading bytes written.
[[nodiscard]] int ParseMac(const char* text, uint8_t out[6]);
// The same for a text whose length (without its terminating zero) the caller knows.
[[nodiscard]] int ParseMac(const char* text, std::size_t length, uint8_t out[6]);
// Whether the text of that length is the bytes as FormatMac writes them.
[[nodiscard]] bool IsFormattedMac(const char* text, std::size_t length, const uint8_t bytes[6]);

// Dotted quad of decimal octets 0 to 255; leading zeros are decimal and an empty part is 0.
// 1 and out filled, else 0. A failure may leave the leading bytes written.
[[nodiscard]] int ParseIPv4(const char* text, uint8_t out[4]);

// ParseIPv4 into one value in network order (the bytes in memory order); false, with the
// value unchanged, when the text is no dotted address.
[[nodiscard]] bool ParseIPv4Value(const char* text, uint32_t& value);
// ParseIPv4Value that also gives the text's length, which the scan found: 0, with the value
// unchanged, when the text is no dotted address.
[[nodiscard]] std::size_t ParseIPv4Length(const char* text, uint32_t& value);

// A text of digits only whose value lies in [minimum, maximum]; else 0. The bounds must
// satisfy 0 < minimum < maximum.
[[nodiscard]] uint16_t ParseNumberInRange(const char* text, uint16_t minimum, uint16_t maximum);

// Prefix length 0 to 32 of a dotted netmask, or -1 when it is not ones followed by zeros
// (or not a dotted address at all).
[[nodiscard]] int MaskToPrefix(const char* text);

// "%d.%d.%d.%d" of the four bytes.
std::string FormatIPv4(const uint8_t bytes[4]);
// The same for an address held as one 32-bit value in network order.
std::string FormatIPv4(uint32_t networkOrder);
// "00:11:22:AA:BB:CC", upper case.
std::string FormatMac(const uint8_t bytes[6]);
// The same into a buffer of the caller's, with its terminating zero.
void FormatMac(const uint8_t bytes[6], char (&text)[18]);
