#pragma once

#include <cstdint>
#include <string>

// The service settings: the command server's port, as given and as a number (0 when the
// text is no port). They live in Velnor.ini, section SERVICE, key PORT.
struct CServiceData {
  std::string portText = "8000";
  std::uint16_t port = 8000;
};

// The process-wide settings, read and replaced whole under one lock, so that a session
// changing them and the controller reading them never see half of a change.
CServiceData GetServiceData();
void SetServiceData(const CServiceData& data);

// Reads PORT (default "8000") into the process-wide settings; false when it is no port
// from 1 to 65535. The text and the port 0 are stored all the same, so that the next start
// of the command server fails on them.
[[nodiscard]] bool LoadServiceData();
// Writes the port text as PORT; false when the file cannot be written.
[[nodiscard]] bool SaveServiceData();
