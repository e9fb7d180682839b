#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"

#include <algorithm>
#include <cmath>

#include <stdexcept>

#include "ai3d/pipeline/depth_model_holder.h"

namespace vistrelle::ai3d {

namespace {

// Runs the caller's hook when a frame's work ends, however it ends.
class FinishedGuard {
 public:
  explicit FinishedGuard(const std::function<void()>& finished) : finished_(finished) {}
  ~FinishedGuard() {
    if (finished_) finished_();
  }
  FinishedGuard(const FinishedGuard&) = delete;
  FinishedGuard& operator=(const FinishedGuard&) = delete;

 private:
  const std::function<void()>& finished_;
};

}  // namespace

std::shared_ptr<MetalPixelBufferScaler> MetalPixelBufferScaler::create(
    dispatch::ExecutorPtr completionQueue) {
  return std::shared_ptr<MetalPixelBufferScaler>(
      new MetalPixelBufferScaler(std::move(completionQueue)));
}

MetalPixelBufferScaler::MetalPixelBufferScaler(dispatch::ExecutorPtr completionQueue)
    : completionQueue_(std::move(completionQueue)) {}

namespace {

// One output coordinate's two source taps and the weight of the second,
// in 1/256 steps.
struct Tap {
  int first;
  int second;
  int weight;
};

// Fixed tables for the common sizes live on the stack: at most 4096 outputs a side.
constexpr int kMaxTaps = 4096;

void makeTaps(int sourceSize, int targetSize, Tap* taps) {
  const double scale = static_cast<double>(sourceSize) / targetSize;
  for (int i = 0; i < targetSize; ++i) {
    const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, sourceSize - 1.0);
    const int first = static_cast<int>(std::floor(position));
    const int second = std::min(first + 1, sourceSize - 1);
    taps[i] = {first, second, static_cast<int>(std::lround((position - first) * 256.0))};
  }
}

}  // namespace

void MetalPixelBufferScaler::scale(const capture::CaptureFrame& source,
                                   capture::CaptureFrame& target) {
  const int width = target.width();
  const int height = target.height();
  if (width > kMaxTaps || height > kMaxTaps) throw std::invalid_argument("scale target too large");
  Tap columns[kMaxTaps];
  Tap rows[kMaxTaps];
  makeTaps(source.width(), width, columns);
  makeTaps(source.height(), height, rows);
  for (int y = 0; y < height; ++y) {
    const uint8_t* top = source.row(rows[y].first);
    const uint8_t* bottom = source.row(rows[y].second);
    const int wy = rows[y].weight;
    uint8_t* out = target.row(y);
    for (int x = 0; x < width; ++x) {
      const int a = 4 * columns[x].first;
      const int b = 4 * columns[x].second;
      const int wx = columns[x].weight;
      for (int c = 0; c < 4; ++c) {
        const int upper = top[a + c] * (256 - wx) + top[b + c] * wx;
        const int lower = bottom[a + c] * (256 - wx) + bottom[b + c] * wx;
        out[4 * x + c] = static_cast<uint8_t>((upper * (256 - wy) + lower * wy + 32768) >> 16);
      }
    }
  }
  target.setTimestamp(source.timestamp());
}

void MetalPixelBufferScaler::scaleAndInfer(const capture::CaptureFramePtr& frame, int width,
                                           int height, const DepthCompletion& completion,
                                           const capture::CaptureFramePtr& captured,
                                           std::shared_ptr<const DepthModelHolder> manager,
                                           const std::function<void()>& finished) {
  if (!frame || (frame->width() == width && frame->height() == height)) {
    FinishedGuard guard(finished);
    inferDepth(frame.get(), captured, completion, *manager);
    return;
  }
  std::shared_ptr<capture::CaptureFrame> output = outputs_.acquire(width, height);
  if (!output) {
    // No buffer to scale into: the model stretches the frame itself.
    FinishedGuard guard(finished);
    inferDepth(frame.get(), captured, completion, *manager);
    return;
  }
  auto work = [self = shared_from_this(), frame = frame, output, completion, captured,
               manager = std::move(manager), finished]() mutable {
    FinishedGuard guard(finished);
    scale(*frame, *output);
    frame.reset();
    inferDepth(output.get(), captured, completion, *manager);
  };
  if (completionQueue_) {
    completionQueue_->post(std::move(work));
  } else {
    work();
  }
}

}  // namespace vistrelle::ai3d
