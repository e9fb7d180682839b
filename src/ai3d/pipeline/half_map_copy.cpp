#include "ai3d/pipeline/half_map_copy.h"

#include <stdexcept>

namespace vistrelle::ai3d {

HalfMapCopy::HalfMapCopy(int width, int height) : KernelMap(width, height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("empty map copy");
  values_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace vistrelle::ai3d
