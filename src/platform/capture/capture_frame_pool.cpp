#include "platform/capture/capture_frame_pool.h"

#include <stdexcept>

namespace vistrelle::capture {

CaptureFramePool::CaptureFramePool(size_t capacity) : capacity_(capacity) {
  if (capacity == 0) throw std::invalid_argument("capture frame pool needs a frame");
  frames_.reserve(capacity);
}

std::shared_ptr<CaptureFrame> CaptureFramePool::acquire(int width, int height) {
  std::lock_guard lock(mutex_);
  // Only the pool hands out references, so a count of one cannot rise
  // behind our back while we hold the lock.
  for (auto& frame : frames_) {
    if (frame.use_count() != 1) continue;
    // The copy handed out below increments the count with an acq_rel
    // read-modify-write, which synchronises with the last holder's release:
    // its reads of the pixels happen before our caller writes them.
    if (frame->width() != width || frame->height() != height) {
      frame = std::make_shared<CaptureFrame>(width, height);
    }
    return frame;
  }
  if (frames_.size() < capacity_) {
    frames_.push_back(std::make_shared<CaptureFrame>(width, height));
    return frames_.back();
  }
  return nullptr;
}

size_t CaptureFramePool::inUse() const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const auto& frame : frames_) count += frame.use_count() > 1 ? 1 : 0;
  return count;
}

}  // namespace vistrelle::capture
