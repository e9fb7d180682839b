#include "support/percentiles.h"

#include <algorithm>
#include <cstddef>

namespace vistrelle::bench {

Percentiles percentiles(std::vector<double> sample) {
  if (sample.empty()) return {};
  std::sort(sample.begin(), sample.end());
  auto at = [&](double q) {
    return sample[std::min(sample.size() - 1, static_cast<size_t>(q * double(sample.size())))];
  };
  return {at(0.50), at(0.95), at(0.99)};
}

}  // namespace vistrelle::bench
