// CaptureFrame: one captured screen image, 8-bit BGRA (B at byte 0, alpha
// always 255), rows top to bottom with a row stride, stamped with the
// monotonic time it was taken.  Frames come from a CaptureFramePool and are
// shared by reference down the pipeline; a frame goes back to its pool when
// the last holder lets go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dispatch/clock.h"

namespace vistrelle::capture {

class CaptureFrame {
 public:
  CaptureFrame(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  size_t stride() const { return stride_; }
  uint8_t* data() { return pixels_.data(); }
  const uint8_t* data() const { return pixels_.data(); }
  uint8_t* row(int y) { return pixels_.data() + stride_ * static_cast<size_t>(y); }
  const uint8_t* row(int y) const { return pixels_.data() + stride_ * static_cast<size_t>(y); }
  size_t byteCount() const { return pixels_.size(); }

  dispatch::TimePoint timestamp() const { return timestamp_; }
  void setTimestamp(dispatch::TimePoint timestamp) { timestamp_ = timestamp; }

 private:
  int width_;
  int height_;
  size_t stride_;
  std::vector<uint8_t> pixels_;
  dispatch::TimePoint timestamp_{0};
};

using CaptureFramePtr = std::shared_ptr<const CaptureFrame>;

}  // namespace vistrelle::capture
