#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/UniqueFd.h"

// One connection to a gateway, non-blocking, watched by the delivery loop's epoll set under
// a tag that names its gateway and binding. While a request on it is unanswered it is reset
// rather than closed: the kernel would go on sending what the gateway has not taken yet, and
// after a network outage the gateway would get a request the sender has since tried again,
// or one that later requests undid.
class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts connecting to address:port (network order address) and watches for writability;
  // false when it failed at once.
  [[nodiscard]] bool Open(int epoll, std::uint64_t tag, std::uint32_t address, std::uint16_t port);
  // After writability while connecting: true when the connection is up.
  [[nodiscard]] bool Connected() const;
  // Watches for readability (an answer) or for writability (room to send).
  void WatchReading();
  void WatchWriting();

  // What could be written of size bytes: 0 when nothing now, -1 on an error.
  long Write(const char* bytes, std::size_t size);
  // What is there to read, left in the socket: 0 when the gateway has closed, -1 when
  // nothing is there now (would block) or on an error (Failed tells which).
  long Peek(char* buffer, std::size_t size);
  bool PeekFailed() const { return peekFailed_; }
  // Takes size bytes that Peek showed out of the socket.
  [[nodiscard]] bool Consume(std::size_t size);

  void Awaiting(bool awaiting) { awaiting_ = awaiting; }
  bool IsOpen() const { return socket_.Get() >= 0; }
  void Close();

 private:
  void Watch(std::uint32_t events);

  platform::UniqueSocket socket_;
  int epoll_ = -1;
  std::uint64_t tag_ = 0;
  bool awaiting_ = false;
  bool peekFailed_ = false;
};
