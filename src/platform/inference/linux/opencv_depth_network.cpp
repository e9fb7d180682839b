#include "platform/inference/linux/opencv_depth_network.h"

#include <opencv2/core.hpp>
#include <opencv2/core/ocl.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

namespace vistrelle::inference {

struct OpenCvDepthNetwork::State {
  cv::dnn::Net net;
  std::string target;
  cv::Mat resized;  // BGRA at the input size, reused
  cv::Mat blob;     // 1x3xHxW float, reused
  cv::Mat output;
  std::vector<int> shape;
};

namespace {

constexpr int kW = DepthNetwork::kInputWidth;
constexpr int kH = DepthNetwork::kInputHeight;

// BGRA bytes to planar RGB floats in [0, 1].
void fillBlob(const cv::Mat& bgra, cv::Mat& blob) {
  float* r = blob.ptr<float>();
  float* g = r + kW * kH;
  float* b = g + kW * kH;
  constexpr float kScale = 1.0f / 255.0f;
  for (int y = 0; y < kH; ++y) {
    const uint8_t* row = bgra.ptr<uint8_t>(y);
    const size_t offset = static_cast<size_t>(y) * kW;
    for (int x = 0; x < kW; ++x) {
      b[offset + x] = row[4 * x + 0] * kScale;
      g[offset + x] = row[4 * x + 1] * kScale;
      r[offset + x] = row[4 * x + 2] * kScale;
    }
  }
}

void forward(OpenCvDepthNetwork::State& state) {
  state.net.setInput(state.blob, "input");
  state.net.forward(state.output);
}

}  // namespace

OpenCvDepthNetwork::OpenCvDepthNetwork(std::unique_ptr<State> state) : state_(std::move(state)) {}
OpenCvDepthNetwork::~OpenCvDepthNetwork() = default;

std::unique_ptr<DepthNetwork> OpenCvDepthNetwork::load(std::span<const uint8_t> onnx,
                                                       const Log& log, std::string* reason) {
  auto fail = [&](std::string why) -> std::unique_ptr<DepthNetwork> {
    if (reason) *reason = std::move(why);
    return nullptr;
  };
  if (onnx.empty()) return fail("empty model");
  auto state = std::make_unique<State>();
  try {
    state->net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx.data()), onnx.size());
  } catch (const cv::Exception& error) {
    return fail(std::string("cannot read ONNX model: ") + error.what());
  }
  if (state->net.empty()) return fail("cannot read ONNX model: no layers");
  const int blobShape[] = {1, 3, kH, kW};
  state->blob.create(4, blobShape, CV_32F);
  state->blob.setTo(cv::Scalar(0.5));
  state->resized.create(kH, kW, CV_8UC4);
  state->net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);

  std::string openClFailure = "no OpenCL device";
  if (cv::ocl::haveOpenCL()) {
    try {
      state->net.setPreferableTarget(cv::dnn::DNN_TARGET_OPENCL);
      forward(*state);
      state->target = "OpenCL";
    } catch (const cv::Exception& error) {
      openClFailure = error.what();
    }
  }
  if (state->target.empty()) {
    try {
      state->net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
      forward(*state);
      state->target = "CPU";
    } catch (const cv::Exception& error) {
      return fail(std::string("model does not run: ") + error.what());
    }
    if (log) log("depth model on OpenCV DNN, CPU target (OpenCL unused: " + openClFailure + ")");
  } else if (log) {
    log("depth model on OpenCV DNN, OpenCL target");
  }
  return std::unique_ptr<DepthNetwork>(new OpenCvDepthNetwork(std::move(state)));
}

std::string OpenCvDepthNetwork::description() const {
  return "OpenCV DNN " + state_->target;
}

TensorOutput OpenCvDepthNetwork::run(const ImageInput& image) {
  if (image.bgra == nullptr || image.width <= 0 || image.height <= 0) {
    throw std::runtime_error("no image");
  }
  const size_t pitch = image.rowBytes != 0 ? image.rowBytes : static_cast<size_t>(image.width) * 4;
  const cv::Mat source(image.height, image.width, CV_8UC4, const_cast<uint8_t*>(image.bgra), pitch);
  try {
    if (image.width == kW && image.height == kH) {
      fillBlob(source, state_->blob);
    } else {
      cv::resize(source, state_->resized, state_->resized.size(), 0, 0, cv::INTER_LINEAR);
      fillBlob(state_->resized, state_->blob);
    }
    forward(*state_);
  } catch (const cv::Exception& error) {
    throw std::runtime_error(error.what());
  }
  const cv::Mat& out = state_->output;
  if (out.type() != CV_32F || !out.isContinuous()) {
    throw std::runtime_error("output is not a continuous float tensor");
  }
  state_->shape.assign(out.size.p, out.size.p + out.dims);
  return TensorOutput{state_->shape, out.ptr<float>()};
}

}  // namespace vistrelle::inference
