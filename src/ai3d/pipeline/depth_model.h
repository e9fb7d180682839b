// DepthModel: the loaded depth network and the per-frame inference around
// it.  The network's raw output (relative inverse depth) is brought to the
// pipeline's 518 x 294 and normalised per frame to nearness in [0, 1]: the
// finite minimum maps to 0, the maximum to 1; a constant map and non-finite
// values give 0, never NaN.
//
//   inferDepth(&scaledFrame, capturedFrame, completion, holder);
//   // completion(capturedFrame, &depthView) or completion(capturedFrame, nullptr)
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ai3d/kernels/depth_map_view.h"
#include "platform/capture/capture_frame.h"
#include "platform/inference/depth_network.h"

namespace vistrelle::ai3d {

class DepthModelHolder;

// The depth map (f32, 518 x 294) is only valid during the call; null when
// the model gave no usable map.
using DepthCompletion =
    std::function<void(const capture::CaptureFramePtr& captured, const DepthMapView* depth)>;

class DepthModel {
 public:
  static constexpr int kWidth = inference::DepthNetwork::kInputWidth;
  static constexpr int kHeight = inference::DepthNetwork::kInputHeight;
  using Log = std::function<void(const std::string&)>;

  // log defaults to the application's text log.
  explicit DepthModel(std::unique_ptr<inference::DepthNetwork> network, Log log = {});

  std::string description() const;

  // Runs the network on frame and calls completion (synchronously, on this
  // thread) with captured passed through. A failing run is logged and calls
  // no completion. Calls are serialised.
  void infer(const capture::CaptureFrame& frame, const capture::CaptureFramePtr& captured,
             const DepthCompletion& completion);

 private:
  bool normalise(const inference::TensorOutput& output);

  std::unique_ptr<inference::DepthNetwork> network_;
  Log log_;
  std::mutex mutex_;
  std::vector<float> resized_;
  std::vector<float> nearness_;
};

// With no frame the completion gets (captured, none) at once; likewise when
// the holder has no model.
void inferDepth(const capture::CaptureFrame* frame, const capture::CaptureFramePtr& captured,
                const DepthCompletion& completion, const DepthModelHolder& manager);

}  // namespace vistrelle::ai3d
