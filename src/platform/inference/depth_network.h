// DepthNetwork: one loaded depth-estimation network that turns a BGRA image
// into a raw depth tensor.  The OpenCV DNN backend reads ONNX models; the
// fake serves tests.
//
//   auto network = OpenCvDepthNetwork::load(onnxBytes, log, &reason);
//   TensorOutput out = network->run({pixels, 518, 294, 518 * 4});   // throws on failure
//
// The model contract: input "input" 1x3x294x518 RGB float in [0, 1]; output
// 1x1xHxW or 1xHxW relative inverse depth (larger is nearer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vistrelle::inference {

struct ImageInput {
  const uint8_t* bgra = nullptr;  // B at byte 0, rows top to bottom
  int width = 0;
  int height = 0;
  size_t rowBytes = 0;
};

// The network's first output; `shape` and `data` stay valid until the next
// run (views, so a run allocates nothing of its own).
struct TensorOutput {
  std::span<const int> shape;
  const float* data = nullptr;

  size_t count() const;
};

class DepthNetwork {
 public:
  static constexpr int kInputWidth = 518;
  static constexpr int kInputHeight = 294;

  virtual ~DepthNetwork() = default;
  // Which engine and target runs the network, for the log.
  virtual std::string description() const = 0;
  // Runs one image, stretched to the input size when it differs. Not
  // re-entrant: callers serialise. Throws std::runtime_error with the reason.
  virtual TensorOutput run(const ImageInput& image) = 0;
};

}  // namespace vistrelle::inference
