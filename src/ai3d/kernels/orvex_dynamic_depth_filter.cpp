#include "ai3d/kernels/orvex_dynamic_depth_filter.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace vistrelle::ai3d {

double OrvexDynamicDepthFilter::monotonicMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

OrvexDynamicDepthFilter::OrvexDynamicDepthFilter(KernelBackend& backend, Clock clock)
    : backend_(backend), clock_(std::move(clock)) {}

std::shared_ptr<const KernelMap> OrvexDynamicDepthFilter::apply(const DepthMapView& depth,
                                                                float alpha, float eta,
                                                                float sceneChangeThresh) {
  if (!isDepthFormat(depth.format)) {
    throw std::invalid_argument(std::string("depth map of format ") + mapFormatName(depth.format) +
                                " refused: the filter reads f16 or f32");
  }
  std::lock_guard lock(mutex_);
  KernelBackend::Batch batch(backend_);
  std::shared_ptr<KernelMap> current = backend_.acquireMap(depth.width, depth.height);
  backend_.upload(depth, *current);
  return filterLocked(*current, alpha, eta, sceneChangeThresh);
}

std::shared_ptr<const KernelMap> OrvexDynamicDepthFilter::apply(const KernelMap& depth, float alpha,
                                                                float eta,
                                                                float sceneChangeThresh) {
  std::lock_guard lock(mutex_);
  KernelBackend::Batch batch(backend_);
  return filterLocked(depth, alpha, eta, sceneChangeThresh);
}

std::shared_ptr<const KernelMap> OrvexDynamicDepthFilter::apply(const DepthMapView& depth) {
  return apply(depth, alpha.load(), eta.load(), sceneChangeThresh.load());
}

std::shared_ptr<const KernelMap> OrvexDynamicDepthFilter::filterLocked(const KernelMap& current,
                                                                       float alphaValue,
                                                                       float etaValue,
                                                                       float threshValue) {
  // A map of another size cannot be blended with the previous one: start
  // afresh as after a reset.
  if (previous_ &&
      (previous_->width() != current.width() || previous_->height() != current.height())) {
    previous_.reset();
    lastTime_.reset();
  }
  if (!previous_) {
    previous_ = backend_.acquireMap(current.width(), current.height());
    backend_.copy(current, *previous_);
  }
  const double now = clock_();
  const double dt = lastTime_ ? now - *lastTime_ : 16.0;
  lastTime_ = now;
  lastDt_ = static_cast<float>(dt);

  std::shared_ptr<KernelMap> out = backend_.acquireMap(current.width(), current.height());
  const DynamicFilterParams params{alphaValue, etaValue, threshValue, lastDt_};
  backend_.dynamicDepthFilter(current, *previous_, *out, params);
  previous_ = out;
  return out;
}

void OrvexDynamicDepthFilter::reset() {
  std::lock_guard lock(mutex_);
  previous_.reset();
  lastTime_.reset();
}

float OrvexDynamicDepthFilter::lastDt() const {
  std::lock_guard lock(mutex_);
  return lastDt_;
}

}  // namespace vistrelle::ai3d
