#pragma once

#include <cstdint>
#include <string>

struct GatewayQueue;

// One of the dispatcher's senders. While bound it serves one gateway's try: the connection,
// each request and its answer. The exchanges run on the delivery loop, so a sender holds no
// thread of its own, and a gateway that pauses between tries, or is slow to connect or to
// answer, gives its sender back for the next gateway. Its binding is read and changed under
// the delivery loop's lock.
class CNacHttpClientThread {
 public:
  explicit CNacHttpClientThread(int number) : number_(number) {}

  int Number() const { return number_; }
  GatewayQueue* Gateway() const { return gateway_; }
  bool Free() const { return gateway_ == nullptr; }
  void Bind(GatewayQueue* gateway) { gateway_ = gateway; }
  void Release() { gateway_ = nullptr; }
  // "GW(a.b.c.d:port)" of the binding; all zeros when free.
  std::string Name() const;

 private:
  int number_;
  GatewayQueue* gateway_ = nullptr;
};

// "GW(a.b.c.d:port)" for an address in network order.
std::string GatewayName(std::uint32_t address, std::uint16_t port);
