#include "ai3d/pipeline/depth_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ai3d/pipeline/depth_model_holder.h"
#include "platform/inference/fake/fake_depth_network.h"
#include "platform/inference/linux/opencv_depth_network.h"
#include "tools/model_pack/model_packer.h"

namespace vistrelle::ai3d {
namespace {

using capture::CaptureFrame;
using capture::CaptureFramePtr;
using ::testing::ElementsAre;

constexpr int kW = DepthModel::kWidth;
constexpr int kH = DepthModel::kHeight;

std::shared_ptr<CaptureFrame> grayFrame(int width, int height, uint8_t level) {
  auto frame = std::make_shared<CaptureFrame>(width, height);
  std::fill(frame->data(), frame->data() + frame->byteCount(), level);
  return frame;
}

// What one inference delivered.
struct Delivery {
  int calls = 0;
  CaptureFramePtr captured;
  bool hasDepth = false;
  std::vector<float> values;
  int width = 0;
  int height = 0;
};

DepthCompletion recordInto(Delivery& delivery) {
  return [&delivery](const CaptureFramePtr& captured, const DepthMapView* depth) {
    ++delivery.calls;
    delivery.captured = captured;
    delivery.hasDepth = depth != nullptr;
    if (depth == nullptr) return;
    EXPECT_EQ(depth->format, MapFormat::Float32);
    delivery.width = depth->width;
    delivery.height = depth->height;
    const float* values = static_cast<const float*>(depth->data);
    delivery.values.assign(values, values + static_cast<size_t>(depth->width) * depth->height);
  };
}

std::unique_ptr<inference::DepthNetwork> loadOnnx(const std::string& path) {
  std::string reason;
  auto network = inference::OpenCvDepthNetwork::load(tools::readFile(path), {}, &reason);
  EXPECT_NE(network, nullptr) << reason;
  return network;
}

class DepthModelTest : public ::testing::Test {
 protected:
  void useNetwork(std::unique_ptr<inference::DepthNetwork> network) {
    holder_.setModel(std::make_shared<DepthModel>(
        std::move(network), [this](const std::string& line) { logged_.push_back(line); }));
  }
  void run(const std::shared_ptr<CaptureFrame>& frame) {
    inferDepth(frame.get(), frame, recordInto(delivery_), holder_);
  }

  DepthModelHolder holder_;
  Delivery delivery_;
  std::vector<std::string> logged_;
};

TEST_F(DepthModelTest, StandInModelGivesANormalisedMapNearerAtTheBottom) {
  useNetwork(loadOnnx(VISTRELLE_MODEL_DIR "/model.onnx"));
  auto frame = grayFrame(kW, kH, 128);
  run(frame);
  ASSERT_EQ(delivery_.calls, 1);
  ASSERT_TRUE(delivery_.hasDepth);
  EXPECT_EQ(delivery_.captured, frame);
  EXPECT_EQ(delivery_.width, kW);
  EXPECT_EQ(delivery_.height, kH);
  const auto [low, high] = std::minmax_element(delivery_.values.begin(), delivery_.values.end());
  EXPECT_FLOAT_EQ(*low, 0.0f);
  EXPECT_FLOAT_EQ(*high, 1.0f);
  const float top = delivery_.values[static_cast<size_t>(10) * kW + kW / 2];
  const float bottom = delivery_.values[static_cast<size_t>(kH - 10) * kW + kW / 2];
  EXPECT_GT(bottom, top + 0.5f);
}

TEST_F(DepthModelTest, BrightRegionComesForward) {
  useNetwork(loadOnnx(VISTRELLE_MODEL_DIR "/model.onnx"));
  auto frame = grayFrame(kW, kH, 20);
  for (int y = 100; y < 200; ++y) {
    std::fill(frame->row(y) + 4 * 200, frame->row(y) + 4 * 300, uint8_t{250});
  }
  run(frame);
  ASSERT_TRUE(delivery_.hasDepth);
  const auto at = [&](int x, int y) { return delivery_.values[static_cast<size_t>(y) * kW + x]; };
  EXPECT_GT(at(250, 150), at(100, 150) + 0.1f);
}

TEST_F(DepthModelTest, SmallerThreeDimensionalOutputIsResizedToTheMapSize) {
  useNetwork(loadOnnx(VISTRELLE_TEST_DATA_DIR "/half_size.onnx"));
  auto frame = grayFrame(kW, kH, 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) frame->row(y)[4 * x + 2] = static_cast<uint8_t>(x * 255 / kW);
  }
  run(frame);
  ASSERT_TRUE(delivery_.hasDepth);
  EXPECT_EQ(delivery_.width, kW);
  EXPECT_EQ(delivery_.height, kH);
  EXPECT_LT(delivery_.values[kW * 100 + 10], delivery_.values[kW * 100 + 500]);
}

TEST_F(DepthModelTest, WrongShapedOutputGivesNoDepth) {
  useNetwork(loadOnnx(VISTRELLE_TEST_DATA_DIR "/wrong_channels.onnx"));
  run(grayFrame(kW, kH, 50));
  EXPECT_EQ(delivery_.calls, 1);
  EXPECT_FALSE(delivery_.hasDepth);
}

TEST_F(DepthModelTest, FakeShapesThatAreNotADepthMap) {
  const std::vector<std::vector<int>> shapes = {{kH, kW},          {2, 1, kH, kW}, {1, 3, kH, kW},
                                                {1, 1, 1, kH, kW}, {1, 0, kW},     {}};
  for (const auto& shape : shapes) {
    auto network = std::make_unique<inference::FakeDepthNetwork>();
    network->setShape(shape);
    useNetwork(std::move(network));
    delivery_ = {};
    run(grayFrame(kW, kH, 1));
    EXPECT_EQ(delivery_.calls, 1);
    EXPECT_FALSE(delivery_.hasDepth) << ::testing::PrintToString(shape);
  }
}

TEST_F(DepthModelTest, NormalisationTable) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    inference::FakeDepthNetwork::Fill fill;
    float atLeft, atMiddle, atRight;  // x = 0, 259, 517 on row 0
  };
  const Case cases[] = {
      {"ramp", [](int x, int, const auto&) { return 10.0f + x; }, 0.0f, 259.0f / 517, 1.0f},
      {"constant", [](int, int, const auto&) { return 7.0f; }, 0.0f, 0.0f, 0.0f},
      {"negative", [](int x, int, const auto&) { return -1000.0f + 2 * x; }, 0, 259.0f / 517, 1},
      {"non-finite",
       [nan, inf](int x, int, const auto&) {
         return x == 0 ? nan : x == 259 ? inf : x == 517 ? -inf : (x < 259 ? 1.0f : 3.0f);
       },
       0.0f, 0.0f, 0.0f},
      {"all NaN", [nan](int, int, const auto&) { return nan; }, 0.0f, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    auto network = std::make_unique<inference::FakeDepthNetwork>();
    network->setFill(c.fill);
    useNetwork(std::move(network));
    delivery_ = {};
    run(grayFrame(kW, kH, 1));
    ASSERT_TRUE(delivery_.hasDepth) << c.name;
    EXPECT_NEAR(delivery_.values[0], c.atLeft, 1e-6) << c.name;
    EXPECT_NEAR(delivery_.values[259], c.atMiddle, 1e-6) << c.name;
    EXPECT_NEAR(delivery_.values[517], c.atRight, 1e-6) << c.name;
    for (float value : delivery_.values) {
      ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << c.name << " " << value;
    }
  }
}

TEST_F(DepthModelTest, NoFrameOrNoModelGivesNoDepthAtOnce) {
  auto network = std::make_unique<inference::FakeDepthNetwork>();
  auto* fake = network.get();
  useNetwork(std::move(network));
  auto captured = grayFrame(4, 4, 0);
  inferDepth(nullptr, captured, recordInto(delivery_), holder_);
  EXPECT_EQ(delivery_.calls, 1);
  EXPECT_FALSE(delivery_.hasDepth);
  EXPECT_EQ(delivery_.captured, captured);
  EXPECT_EQ(fake->runs(), 0);

  DepthModelHolder empty;
  delivery_ = {};
  inferDepth(captured.get(), captured, recordInto(delivery_), empty);
  EXPECT_EQ(delivery_.calls, 1);
  EXPECT_FALSE(delivery_.hasDepth);
}

TEST_F(DepthModelTest, FailingRunIsLoggedAndCallsNoCompletion) {
  auto network = std::make_unique<inference::FakeDepthNetwork>();
  network->setFailure("out of memory");
  useNetwork(std::move(network));
  run(grayFrame(kW, kH, 1));
  EXPECT_EQ(delivery_.calls, 0);
  EXPECT_THAT(logged_, ElementsAre("depth Error = out of memory"));
}

TEST(OpenCvDepthNetwork, RefusesWhatIsNotAModel) {
  std::string reason;
  EXPECT_EQ(inference::OpenCvDepthNetwork::load({}, {}, &reason), nullptr);
  EXPECT_EQ(reason, "empty model");
  const std::vector<uint8_t> junk(100, 0x42);
  EXPECT_EQ(inference::OpenCvDepthNetwork::load(junk, {}, &reason), nullptr);
  EXPECT_THAT(reason, ::testing::HasSubstr("cannot read ONNX model"));
}

TEST(OpenCvDepthNetwork, StretchesOtherInputSizes) {
  auto network = loadOnnx(VISTRELLE_MODEL_DIR "/model.onnx");
  auto frame = grayFrame(100, 50, 200);
  const auto out = network->run({frame->data(), 100, 50, frame->stride()});
  EXPECT_THAT(std::vector<int>(out.shape.begin(), out.shape.end()), ElementsAre(1, 1, kH, kW));
}

}  // namespace
}  // namespace vistrelle::ai3d
