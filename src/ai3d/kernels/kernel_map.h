// KernelMap: a single-channel half-float map living on one back-end (a GL
// r16f texture or a CPU buffer). Maps come from KernelBackend::acquireMap,
// which recycles them once nobody holds the shared_ptr any more; a map is
// only ever passed to the back-end that made it.
#pragma once

namespace vistrelle::ai3d {

class KernelMap {
 public:
  virtual ~KernelMap() = default;
  int width() const { return width_; }
  int height() const { return height_; }

 protected:
  KernelMap(int width, int height) : width_(width), height_(height) {}

 private:
  int width_;
  int height_;
};

}  // namespace vistrelle::ai3d
