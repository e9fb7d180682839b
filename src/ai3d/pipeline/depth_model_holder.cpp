#include "ai3d/pipeline/depth_model_holder.h"

namespace vistrelle::ai3d {

std::shared_ptr<DepthModel> DepthModelHolder::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

void DepthModelHolder::setModel(std::shared_ptr<DepthModel> model) {
  std::lock_guard lock(mutex_);
  model_ = std::move(model);
}

std::shared_ptr<MetalPixelBufferScaler> DepthModelHolder::scaler() const {
  std::lock_guard lock(mutex_);
  return scaler_;
}

void DepthModelHolder::setScaler(std::shared_ptr<MetalPixelBufferScaler> scaler) {
  std::lock_guard lock(mutex_);
  scaler_ = std::move(scaler);
}

}  // namespace vistrelle::ai3d
