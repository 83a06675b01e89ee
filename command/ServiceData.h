#pragma once

#include <cstdint>
#include <string>

// The service settings: the command server's port, as given and as a number (0 when the
// text is no port).
struct CServiceData {
  std::string portText = "8000";
  std::uint16_t port = 8000;
};

// The process-wide settings, read and replaced whole under one lock, so that a session
// changing them and the controller reading them never see half of a change.
CServiceData GetServiceData();
void SetServiceData(const CServiceData& data);
