// FakeDepthNetwork: a DepthNetwork for tests that answers a programmed
// tensor (by default a 1x1x294x518 map filled by `fill`), optionally after a
// delay or with a failure, and counts its runs.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/inference/depth_network.h"

namespace vistrelle::inference {

class FakeDepthNetwork : public DepthNetwork {
 public:
  // value(x, y) of the output map; image is the input as given.
  using Fill = std::function<float(int x, int y, const ImageInput& image)>;

  FakeDepthNetwork();

  std::string description() const override { return "fake"; }
  TensorOutput run(const ImageInput& image) override;

  void setShape(std::vector<int> shape);
  void setFill(Fill fill);
  void setDelay(std::chrono::nanoseconds delay);
  void setFailure(std::string reason);  // empty: no failure

  int runs() const { return runs_.load(); }
  // The image of the latest run, as given.
  ImageInput lastImage() const;
  int maxConcurrentRuns() const { return maxConcurrent_.load(); }

 private:
  mutable std::mutex mutex_;
  std::vector<int> shape_;
  Fill fill_;
  std::chrono::nanoseconds delay_{0};
  std::string failure_;
  std::vector<float> values_;
  ImageInput lastImage_;
  std::vector<int> returnedShape_;
  std::atomic<int> runs_{0};
  std::atomic<int> active_{0};
  std::atomic<int> maxConcurrent_{0};
};

}  // namespace vistrelle::inference
