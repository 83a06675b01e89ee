#pragma once

#include <cstdint>
#include <vector>

#include "platform/UniqueFd.h"

// How the prober pings: a raw ICMP socket (the default), or the kernel's ICMP datagram
// socket, which stands in for the ICMP helper library ("dll").
enum class PingMode { kRaw = 1, kLibrary = 2 };

// MODE of section PING in Velnor.ini: exactly "dll" selects the library mode.
PingMode ReadPingMode();

// The one ICMP socket of a prober, non-blocking: requests go out under a sequence number,
// and the answers that come back are read by that number.
//
// Raw mode sends the 76-byte request with time-to-live 32 and the prober's identifier; the
// socket sees every ICMP packet of the host, so only echo replies and time-exceeded
// messages are let through to it, and only those that name the identifier count. Datagram
// mode sends the short request; the kernel writes the identifier and hands this socket its
// own replies only, and a time-exceeded message arrives on its error queue.
class IcmpSocket {
 public:
  IcmpSocket(PingMode mode, std::uint16_t identifier) : mode_(mode), identifier_(identifier) {}

  // Opens the socket unless it is open: false when it cannot be had.
  [[nodiscard]] bool Open();
  bool IsOpen() const { return socket_.Valid(); }
  // -1 while not open.
  int Fd() const { return socket_.Get(); }

  // One request to address (network order): false when it did not leave.
  [[nodiscard]] bool Send(std::uint32_t address, std::uint16_t sequence);
  // Reads everything waiting and appends the sequence number of each answer; a packet
  // that answers no request of ours, or a failed read, is passed over.
  void Receive(std::vector<std::uint16_t>& sequences);

 private:
  void ReceiveRaw(std::vector<std::uint16_t>& sequences);
  void ReceiveDatagrams(std::vector<std::uint16_t>& sequences);
  void ReceiveErrors(std::vector<std::uint16_t>& sequences);

  PingMode mode_;
  std::uint16_t identifier_;
  platform::UniqueSocket socket_;
  std::vector<std::uint8_t> packets_;  // the buffers of one batch of raw reads
};
