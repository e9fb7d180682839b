#include "ai3d/pipeline/depth_model.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

#include "ai3d/pipeline/depth_model_holder.h"
#include "base/log/orvex_log.h"

namespace vistrelle::ai3d {

namespace {
constexpr size_t kPixels = static_cast<size_t>(DepthModel::kWidth) * DepthModel::kHeight;
}

DepthModel::DepthModel(std::unique_ptr<inference::DepthNetwork> network, Log log)
    : network_(std::move(network)), log_(std::move(log)) {
  if (!network_) throw std::invalid_argument("depth model without a network");
  if (!log_) log_ = [](const std::string& line) { OrvexLog::logMessage(line); };
  resized_.resize(kPixels);
  nearness_.resize(kPixels);
}

std::string DepthModel::description() const {
  return network_ ? network_->description() : "none";
}

bool DepthModel::normalise(const inference::TensorOutput& output) {
  const std::span<const int> shape = output.shape;
  const bool fourD = shape.size() == 4 && shape[0] == 1 && shape[1] == 1;
  const bool threeD = shape.size() == 3 && shape[0] == 1;
  if (!fourD && !threeD) return false;
  const int height = shape[shape.size() - 2];
  const int width = shape[shape.size() - 1];
  if (width <= 0 || height <= 0 || output.data == nullptr) return false;

  const float* source = output.data;
  if (width != kWidth || height != kHeight) {
    const cv::Mat in(height, width, CV_32F, const_cast<float*>(output.data));
    cv::Mat out(kHeight, kWidth, CV_32F, resized_.data());
    cv::resize(in, out, out.size(), 0, 0, cv::INTER_LINEAR);
    source = resized_.data();
  }
  float low = std::numeric_limits<float>::infinity();
  float high = -std::numeric_limits<float>::infinity();
  for (size_t i = 0; i < kPixels; ++i) {
    const float value = source[i];
    if (!std::isfinite(value)) continue;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  const float range = high - low;
  if (!(range > 0) || !std::isfinite(range)) {
    std::fill(nearness_.begin(), nearness_.end(), 0.0f);
    return true;
  }
  const float scale = 1.0f / range;
  for (size_t i = 0; i < kPixels; ++i) {
    const float value = source[i];
    nearness_[i] = std::isfinite(value) ? std::clamp((value - low) * scale, 0.0f, 1.0f) : 0.0f;
  }
  return true;
}

void DepthModel::infer(const capture::CaptureFrame& frame, const capture::CaptureFramePtr& captured,
                       const DepthCompletion& completion) {
  std::lock_guard lock(mutex_);
  bool usable = false;
  try {
    const inference::TensorOutput output =
        network_->run({frame.data(), frame.width(), frame.height(), frame.stride()});
    usable = normalise(output);
  } catch (const std::exception& error) {
    log_(std::string("depth Error = ") + error.what());
    return;
  }
  if (!usable) {
    completion(captured, nullptr);
    return;
  }
  const DepthMapView view{nearness_.data(), kWidth, kHeight, kWidth * sizeof(float),
                          MapFormat::Float32};
  completion(captured, &view);
}

void inferDepth(const capture::CaptureFrame* frame, const capture::CaptureFramePtr& captured,
                const DepthCompletion& completion, const DepthModelHolder& manager) {
  const std::shared_ptr<DepthModel> model = manager.model();
  if (frame == nullptr || !model) {
    completion(captured, nullptr);
    return;
  }
  model->infer(*frame, captured, completion);
}

}  // namespace vistrelle::ai3d
