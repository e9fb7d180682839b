// CaptureFramePool: a small fixed set of frames reused without allocating
// once warm.  A frame is free again when the pool holds the only reference;
// with every frame still held, acquire() answers null and the caller drops
// its frame rather than growing memory.
//
//   CaptureFramePool pool(4);
//   if (auto frame = pool.acquire(1920, 1080)) { fill(*frame); deliver(frame); }
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/capture/capture_frame.h"

namespace vistrelle::capture {

class CaptureFramePool {
 public:
  explicit CaptureFramePool(size_t capacity);

  // A free frame of that size (made on first use or after a size change),
  // or null when all frames are in use.
  std::shared_ptr<CaptureFrame> acquire(int width, int height);

  size_t capacity() const { return capacity_; }
  size_t inUse() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<CaptureFrame>> frames_;
};

}  // namespace vistrelle::capture
