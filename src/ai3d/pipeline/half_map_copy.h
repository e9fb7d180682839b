// HalfMapCopy: an eye map read out of the back-end that made it
// (KernelBackend::read), for views that draw in a GL context of their own:
// half bits, rows top to bottom, width * height values. It is never handed
// back to a back-end.
//
//   HalfMapCopier copier(backend);
//   std::shared_ptr<const HalfMapCopy> copy = copier.copy(*map);   // inside the frame's batch
//   glTexSubImage2D(..., GL_RED, GL_HALF_FLOAT, copy->values().data());
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ai3d/kernels/kernel_map.h"

namespace vistrelle::ai3d {

class HalfMapCopy final : public KernelMap {
 public:
  HalfMapCopy(int width, int height);

  std::span<const uint16_t> values() const { return values_; }
  std::span<uint16_t> values() { return values_; }
  // Bumped by every read into this copy: a copy is reused, so a consumer
  // that uploads it tells old contents from new ones by this.
  uint64_t serial() const { return serial_; }
  void setSerial(uint64_t serial) { serial_ = serial; }

 private:
  std::vector<uint16_t> values_;
  uint64_t serial_ = 0;
};

}  // namespace vistrelle::ai3d
