#include "platform/inference/depth_network.h"

namespace vistrelle::inference {

size_t TensorOutput::count() const {
  if (shape.empty()) return 0;
  size_t total = 1;
  for (int dimension : shape) total *= dimension > 0 ? static_cast<size_t>(dimension) : 0;
  return total;
}

}  // namespace vistrelle::inference
