// MetalPixelBufferScaler: brings a captured frame to the depth model's input
// size and hands the result to depth inference.  A frame of that size passes
// untouched and is inferred at once on the calling thread; any other is
// stretched with bilinear filtering (aspect ratio not kept) into a pooled
// buffer, and scaling plus inference then run on the completion queue, the
// stand-in for a GPU completion thread.
//
//   auto scaler = MetalPixelBufferScaler::create(completionQueue);
//   scaler->scaleAndInfer(frame, 518, 294, onDepth, frame, manager, onFinished);
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ai3d/pipeline/depth_model.h"
#include "platform/capture/capture_frame.h"
#include "platform/capture/capture_frame_pool.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::ai3d {

class DepthModelHolder;

class MetalPixelBufferScaler : public std::enable_shared_from_this<MetalPixelBufferScaler> {
 public:
  // A null queue runs scaling and inference inline on the caller.
  static std::shared_ptr<MetalPixelBufferScaler> create(dispatch::ExecutorPtr completionQueue);

  // completion gets (captured, depth) as inferDepth gives it; finished runs
  // once this frame's work is over, on every road (also when inference fails
  // and no completion is called).
  void scaleAndInfer(const capture::CaptureFramePtr& frame, int width, int height,
                     const DepthCompletion& completion, const capture::CaptureFramePtr& captured,
                     std::shared_ptr<const DepthModelHolder> manager,
                     const std::function<void()>& finished = {});

  // Stretches source into target (both BGRA8) with bilinear filtering on
  // pixel centres (as a GPU sampler with linear filtering and clamped edges).
  static void scale(const capture::CaptureFrame& source, capture::CaptureFrame& target);
  // The same with scratch kept by the caller (no allocation once it is big enough).
  static void scale(const capture::CaptureFrame& source, capture::CaptureFrame& target,
                    std::vector<uint16_t>& scratch);

  const dispatch::ExecutorPtr& completionQueue() const { return completionQueue_; }

 private:
  explicit MetalPixelBufferScaler(dispatch::ExecutorPtr completionQueue);

  dispatch::ExecutorPtr completionQueue_;
  capture::CaptureFramePool outputs_{3};
  std::mutex scratchMutex_;
  std::vector<uint16_t> scratch_;
};

}  // namespace vistrelle::ai3d
