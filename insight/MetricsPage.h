#pragma once

#include <string>

// The metrics page: what the service counted and what its registries hold now, in the
// Prometheus text exposition format (version 0.0.4).
std::string MetricsPage();
