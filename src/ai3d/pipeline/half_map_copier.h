// HalfMapCopier: copies eye maps out of one back-end into copies it reuses
// once nobody holds them, so a steady stream of frames allocates nothing.
// Safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/half_map_copy.h"

namespace vistrelle::ai3d {

class HalfMapCopier {
 public:
  explicit HalfMapCopier(KernelBackend& backend) : backend_(backend) {}

  // A copy of map (which must come from this copier's back-end); throws
  // what KernelBackend::read throws.
  std::shared_ptr<const HalfMapCopy> copy(const KernelMap& map);
  size_t copiesMade() const;

 private:
  KernelBackend& backend_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<HalfMapCopy>> pool_;
  uint64_t serial_ = 0;
};

}  // namespace vistrelle::ai3d
