#include "delivery/NacHttpClientThread.h"

#include <cstdio>

#include "delivery/GatewayQueue.h"

std::string CNacHttpClientThread::Name() const {
  return gateway_ != nullptr ? GatewayName(gateway_->address, gateway_->port) : GatewayName(0, 0);
}

std::string GatewayName(std::uint32_t address, std::uint16_t port) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
  char text[32];
  std::snprintf(text, sizeof text, "GW(%d.%d.%d.%d:%d)", bytes[0], bytes[1], bytes[2], bytes[3], port);
  return text;
}
