#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

void MetalPixelBufferScaler::scale(const capture::CaptureFrame& source,
                                   capture::CaptureFrame& target) {
  const cv::Mat in(source.height(), source.width(), CV_8UC4, const_cast<uint8_t*>(source.data()),
                   source.stride());
  cv::Mat out(target.height(), target.width(), CV_8UC4, target.data(), target.stride());
  cv::resize(in, out, out.size(), 0, 0, cv::INTER_LINEAR);
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
