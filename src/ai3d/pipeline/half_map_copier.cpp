#include "ai3d/pipeline/half_map_copier.h"

namespace vistrelle::ai3d {

std::shared_ptr<const HalfMapCopy> HalfMapCopier::copy(const KernelMap& map) {
  std::shared_ptr<HalfMapCopy> target;
  uint64_t serial = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& pooled : pool_) {
      // Only the pool holds it: nobody reads it any more.
      if (pooled.use_count() == 1 && pooled->width() == map.width() &&
          pooled->height() == map.height()) {
        target = pooled;
        break;
      }
    }
    if (!target) {
      target = std::make_shared<HalfMapCopy>(map.width(), map.height());
      pool_.push_back(target);
    }
    serial = ++serial_;
  }
  // Out of the lock: two eyes' maps may be read at once.
  backend_.read(map, target->values());
  target->setSerial(serial);
  return target;
}

size_t HalfMapCopier::copiesMade() const {
  std::lock_guard lock(mutex_);
  return pool_.size();
}

}  // namespace vistrelle::ai3d
