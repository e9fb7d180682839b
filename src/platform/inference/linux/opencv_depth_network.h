// OpenCvDepthNetwork: a DepthNetwork on OpenCV DNN reading an ONNX model from
// memory (the decrypted model never needs to touch the disk).  Prefers the
// OpenCL target and falls back to the CPU when OpenCL is missing or the
// first pass on it fails; `log` is told which one runs.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/inference/depth_network.h"

namespace vistrelle::inference {

class OpenCvDepthNetwork : public DepthNetwork {
 public:
  using Log = std::function<void(std::string_view)>;

  // Null, with the reason in *reason, when the model cannot be read or does
  // not run on a test image.
  static std::unique_ptr<DepthNetwork> load(std::span<const uint8_t> onnx, const Log& log,
                                            std::string* reason);

  ~OpenCvDepthNetwork() override;
  std::string description() const override;
  TensorOutput run(const ImageInput& image) override;

  struct State;

 private:
  explicit OpenCvDepthNetwork(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace vistrelle::inference
