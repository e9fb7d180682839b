#include "platform/inference/fake/fake_depth_network.h"

#include <stdexcept>
#include <thread>

namespace vistrelle::inference {

FakeDepthNetwork::FakeDepthNetwork()
    : shape_{1, 1, kInputHeight, kInputWidth},
      fill_([](int, int y, const ImageInput&) { return static_cast<float>(y); }) {}

void FakeDepthNetwork::setShape(std::vector<int> shape) {
  std::lock_guard lock(mutex_);
  shape_ = std::move(shape);
}

void FakeDepthNetwork::setFill(Fill fill) {
  std::lock_guard lock(mutex_);
  fill_ = std::move(fill);
}

void FakeDepthNetwork::setDelay(std::chrono::nanoseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

void FakeDepthNetwork::setFailure(std::string reason) {
  std::lock_guard lock(mutex_);
  failure_ = std::move(reason);
}

ImageInput FakeDepthNetwork::lastImage() const {
  std::lock_guard lock(mutex_);
  return lastImage_;
}

TensorOutput FakeDepthNetwork::run(const ImageInput& image) {
  const int active = ++active_;
  int seen = maxConcurrent_.load();
  while (active > seen && !maxConcurrent_.compare_exchange_weak(seen, active)) {
  }
  ++runs_;
  std::unique_lock lock(mutex_);
  const auto delay = delay_;
  lock.unlock();
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  lock.lock();
  --active_;
  lastImage_ = image;
  if (!failure_.empty()) throw std::runtime_error(failure_);
  returnedShape_ = shape_;
  TensorOutput probe{std::span<const int>(returnedShape_), nullptr};
  values_.resize(probe.count());
  const int width = shape_.empty() ? 0 : shape_.back();
  const int height = shape_.size() >= 2 ? shape_[shape_.size() - 2] : 1;
  const size_t plane = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < values_.size(); ++i) {
    const size_t inPlane = plane != 0 ? i % plane : 0;
    const int x = width != 0 ? static_cast<int>(inPlane % static_cast<size_t>(width)) : 0;
    const int y = width != 0 ? static_cast<int>(inPlane / static_cast<size_t>(width)) : 0;
    values_[i] = fill_(x, y, image);
  }
  return TensorOutput{returnedShape_, values_.data()};
}

}  // namespace vistrelle::inference
