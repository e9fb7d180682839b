// OrvexDynamicDepthFilter: temporal smoothing of the depth model's maps so
// the stereo effect does not flicker, while a scene cut passes at once.
//
//   OrvexDynamicDepthFilter filter(*backend);
//   std::shared_ptr<const KernelMap> smoothed = filter.apply(depthView, alpha, eta, thresh);
//   stereo.generate(smoothed, 0.2f, 600.0f, depthValue);
//   filter.reset();   // capture stopped: the next frame starts afresh
//
// The first frame after a reset (or after a change of map size) is filtered
// against a copy of itself with dt = 16 ms; later frames use the monotonic
// time since the previous one. The filter owns its state: apply() and reset()
// may be called from different threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "ai3d/kernels/depth_map_view.h"
#include "ai3d/kernels/kernel_backend.h"

namespace vistrelle::ai3d {

class OrvexDynamicDepthFilter {
 public:
  // Milliseconds on a monotonic clock.
  using Clock = std::function<double()>;
  static double monotonicMilliseconds();

  explicit OrvexDynamicDepthFilter(KernelBackend& backend, Clock clock = monotonicMilliseconds);

  // Filters one map with the given tuning. The depth map must be f16 or f32
  // (others throw std::invalid_argument). The result stays valid as long as
  // it is held; it is also the next frame's previous map.
  std::shared_ptr<const KernelMap> apply(const DepthMapView& depth, float alpha, float eta,
                                         float sceneChangeThresh);
  // The same with a map already on the back-end.
  std::shared_ptr<const KernelMap> apply(const KernelMap& depth, float alpha, float eta,
                                         float sceneChangeThresh);
  // With the stored tuning values, each read once.
  std::shared_ptr<const KernelMap> apply(const DepthMapView& depth);

  void reset();

  // The dt sent with the latest apply, in ms (0 before the first).
  float lastDt() const;

  // Stored tuning, written from any thread, read once per frame.
  std::atomic<float> alpha{0.1f};
  std::atomic<float> eta{0.1f};
  std::atomic<float> sceneChangeThresh{0.1f};

 private:
  std::shared_ptr<const KernelMap> filterLocked(const KernelMap& current, float alpha, float eta,
                                                float sceneChangeThresh);

  KernelBackend& backend_;
  Clock clock_;
  mutable std::mutex mutex_;
  std::optional<double> lastTime_;  // ms; none until a frame after a reset
  float lastDt_ = 0;
  std::shared_ptr<KernelMap> previous_;
};

}  // namespace vistrelle::ai3d
