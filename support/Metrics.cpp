#include "support/Metrics.h"

Metrics& GetMetrics() {
  static Metrics metrics;
  return metrics;
}
