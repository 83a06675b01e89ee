#pragma once

#include <string>

// Logs a gateway's answer by its status and result word, and counts it for the metrics.
// gateway is its "GW(a.b.c.d:port)" name.
void LogAnswer(const std::string& gateway, int status, const std::string& body);
