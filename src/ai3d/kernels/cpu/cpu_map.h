// CpuMap: a half map of the CPU back-end. Values are kept as f32 that are
// always exactly representable in half, so every pass sees what a GPU r16f
// texture would hold while the loops avoid conversions.
#pragma once

#include <cstddef>
#include <vector>

#include "ai3d/kernels/kernel_map.h"

namespace vistrelle::ai3d {

class CpuMap final : public KernelMap {
 public:
  CpuMap(const void* owner, int width, int height)
      : KernelMap(width, height),
        owner_(owner),
        values_(static_cast<size_t>(width) * static_cast<size_t>(height)) {}

  const void* owner() const { return owner_; }
  float* row(int y) {
    return values_.data() + static_cast<size_t>(y) * static_cast<size_t>(width());
  }
  const float* row(int y) const {
    return values_.data() + static_cast<size_t>(y) * static_cast<size_t>(width());
  }
  float* data() { return values_.data(); }
  const float* data() const { return values_.data(); }

 private:
  const void* owner_;
  std::vector<float> values_;
};

}  // namespace vistrelle::ai3d
