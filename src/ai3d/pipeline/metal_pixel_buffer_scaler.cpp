#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  std::vector<uint16_t> scratch;
  scale(source, target, scratch);
}

void MetalPixelBufferScaler::scale(const capture::CaptureFrame& source,
                                   capture::CaptureFrame& target, std::vector<uint16_t>& scratch) {
  const int width = target.width();
  const int height = target.height();
  if (width > kMaxTaps || height > kMaxTaps) throw std::invalid_argument("scale target too large");
  Tap columns[kMaxTaps];
  Tap rows[kMaxTaps];
  makeTaps(source.width(), width, columns);
  makeTaps(source.height(), height, rows);
  // Down first, then across: the same integers as the four taps at once
  // (the products only regroup), with the vertical blend in vector lanes.
  const size_t channels = static_cast<size_t>(source.width()) * 4;
  if (scratch.size() < channels) scratch.resize(channels);
  uint16_t* __restrict down = scratch.data();
  for (int y = 0; y < height; ++y) {
    const uint8_t* __restrict top = source.row(rows[y].first);
    const uint8_t* __restrict bottom = source.row(rows[y].second);
    const uint16_t wy = static_cast<uint16_t>(rows[y].weight);
    const uint16_t keep = static_cast<uint16_t>(256 - wy);
    for (size_t i = 0; i < channels; ++i) {
      down[i] = static_cast<uint16_t>(top[i] * keep + bottom[i] * wy);
    }
    uint8_t* out = target.row(y);
    for (int x = 0; x < width; ++x) {
      const uint16_t* a = down + 4 * columns[x].first;
      const uint16_t* b = down + 4 * columns[x].second;
      const int wx = columns[x].weight;
#if defined(__SSE2__)
      // The four channels at once in float, which holds these integers
      // (below 2^24) and their sums exactly, so the result is the same.
      const __m128i zero = _mm_setzero_si128();
      const __m128 va = _mm_cvtepi32_ps(
          _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)), zero));
      const __m128 vb = _mm_cvtepi32_ps(
          _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)), zero));
      const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(va, _mm_set1_ps(float(256 - wx))),
                                               _mm_mul_ps(vb, _mm_set1_ps(float(wx)))),
                                    _mm_set1_ps(32768.0f));
      const __m128i value = _mm_cvttps_epi32(_mm_mul_ps(sum, _mm_set1_ps(1.0f / 65536.0f)));
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(value, zero), zero);
      const int pixel = _mm_cvtsi128_si32(bytes);
      std::memcpy(out + 4 * x, &pixel, 4);
#else
      for (int c = 0; c < 4; ++c) {
        out[4 * x + c] = static_cast<uint8_t>((a[c] * (256 - wx) + b[c] * wx + 32768) >> 16);
      }
#endif
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
    {
      std::lock_guard lock(self->scratchMutex_);
      scale(*frame, *output, self->scratch_);
    }
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
