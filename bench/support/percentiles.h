#pragma once

#include <vector>

namespace vistrelle::bench {

struct Percentiles {
  double p50 = 0, p95 = 0, p99 = 0;
};

// Nearest-rank percentiles of a sample (zeros for an empty one).
Percentiles percentiles(std::vector<double> sample);

}  // namespace vistrelle::bench
