#include "keepalive/IcmpSocket.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "keepalive/EchoRequest.h"
#include "platform/Clock.h"
#include "support/Settings.h"

namespace {

constexpr int kTimeToLive = 32;
// Room for the answers of a burst of probes on a busy host.
constexpr int kReceiveBuffer = 1 << 20;
constexpr std::size_t kPacketSize = 1514;
constexpr std::size_t kBatch = 16;
// Reads per call: a flood of packets must not keep the prober from its deadlines.
constexpr std::size_t kReadLimit = 1024;

sockaddr_in Destination(std::uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  return to;
}

bool SendTo(int fd, const std::uint8_t* bytes, std::size_t size, std::uint32_t address) {
  const sockaddr_in to = Destination(address);
  ssize_t sent;
  do {
    sent = ::sendto(fd, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

}  // namespace

PingMode ReadPingMode() { return settings::PingLibraryModeOn() ? PingMode::kLibrary : PingMode::kRaw; }

bool IcmpSocket::Open() {
  if (socket_.Valid()) return true;
  const int type = mode_ == PingMode::kRaw ? SOCK_RAW : SOCK_DGRAM;
  platform::UniqueSocket socket(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!socket.Valid()) return false;
  // A smaller buffer than asked for only risks answers lost in a burst.
  (void)::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
  if (mode_ == PingMode::kRaw) {
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_TIME_EXCEEDED));
    if (::setsockopt(socket.Get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0 ||
        ::setsockopt(socket.Get(), IPPROTO_IP, IP_TTL, &kTimeToLive, sizeof kTimeToLive) != 0) {
      return false;
    }
  } else {
    const int on = 1;
    if (::setsockopt(socket.Get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) return false;
  }
  socket_ = std::move(socket);
  return true;
}

bool IcmpSocket::Send(std::uint32_t address, std::uint16_t sequence) {
  if (mode_ == PingMode::kRaw) {
    const auto request = BuildEchoRequest(identifier_, sequence, platform::TickCount());
    return SendTo(socket_.Get(), request.data(), request.size(), address);
  }
  const auto request = BuildDatagramRequest(sequence);
  return SendTo(socket_.Get(), request.data(), request.size(), address);
}

void IcmpSocket::Receive(std::vector<std::uint16_t>& sequences) {
  if (!socket_.Valid()) return;
  if (mode_ == PingMode::kRaw) {
    ReceiveRaw(sequences);
  } else {
    ReceiveErrors(sequences);
    ReceiveDatagrams(sequences);
  }
}

void IcmpSocket::ReceiveRaw(std::vector<std::uint16_t>& sequences) {
  if (packets_.empty()) packets_.resize(kBatch * kPacketSize);
  std::array<iovec, kBatch> vectors;
  std::array<mmsghdr, kBatch> messages;
  for (std::size_t read = 0; read < kReadLimit;) {
    for (std::size_t i = 0; i < kBatch; ++i) {
      vectors[i] = iovec{&packets_[i * kPacketSize], kPacketSize};
      messages[i] = mmsghdr{};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int received = ::recvmmsg(socket_.Get(), messages.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (received < 0) {
      if (errno == EINTR) continue;
      return;  // nothing more waiting, or a failure that the next wake will meet again
    }
    for (int i = 0; i < received; ++i) {
      const std::optional<EchoKey> key = ReadRawAnswer(&packets_[i * kPacketSize], messages[i].msg_len);
      if (key && key->identifier == identifier_) sequences.push_back(key->sequence);
    }
    read += static_cast<std::size_t>(received);
    if (static_cast<std::size_t>(received) < kBatch) return;
  }
}

void IcmpSocket::ReceiveDatagrams(std::vector<std::uint16_t>& sequences) {
  std::uint8_t packet[kPacketSize];
  for (std::size_t read = 0; read < kReadLimit; ++read) {
    const ssize_t received = ::recv(socket_.Get(), packet, sizeof packet, MSG_DONTWAIT);
    if (received < 0) {
      // A pending error of the socket fails one read and is cleared by it.
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      continue;
    }
    if (const std::optional<std::uint16_t> sequence = ReadDatagramAnswer(packet, static_cast<std::size_t>(received))) {
      sequences.push_back(*sequence);
    }
  }
}

void IcmpSocket::ReceiveErrors(std::vector<std::uint16_t>& sequences) {
  // Each entry of the error queue carries the ICMP error and, as data, the header of the
  // request it is about.
  std::uint8_t quoted[kPacketSize];
  alignas(cmsghdr) std::uint8_t control[256];
  for (std::size_t read = 0; read < kReadLimit; ++read) {
    iovec vector{quoted, sizeof quoted};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(socket_.Get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
      sock_extended_err error;
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_origin != SO_EE_ORIGIN_ICMP || error.ee_type != ICMP_TIME_EXCEEDED) continue;
      if (static_cast<std::size_t>(received) < kIcmpHeaderSize) continue;
      std::uint16_t sequence;
      std::memcpy(&sequence, quoted + 6, sizeof sequence);
      sequences.push_back(sequence);
    }
  }
}
