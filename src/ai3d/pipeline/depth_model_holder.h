// DepthModelHolder: what the pipeline needs of the AI-3D manager: the loaded
// depth model and the scaler, each possibly absent.  Set once at install,
// read by every frame from other threads.
#pragma once

#include <memory>
#include <mutex>

namespace vistrelle::ai3d {

class DepthModel;
class MetalPixelBufferScaler;

class DepthModelHolder {
 public:
  std::shared_ptr<DepthModel> model() const;
  void setModel(std::shared_ptr<DepthModel> model);
  std::shared_ptr<MetalPixelBufferScaler> scaler() const;
  void setScaler(std::shared_ptr<MetalPixelBufferScaler> scaler);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<DepthModel> model_;
  std::shared_ptr<MetalPixelBufferScaler> scaler_;
};

}  // namespace vistrelle::ai3d
