#include "platform/capture/capture_frame.h"

#include <stdexcept>

namespace vistrelle::capture {

CaptureFrame::CaptureFrame(int width, int height)
    : width_(width), height_(height), stride_(static_cast<size_t>(width) * 4) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("empty capture frame");
  pixels_.resize(stride_ * static_cast<size_t>(height));
}

}  // namespace vistrelle::capture
