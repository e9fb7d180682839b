#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "ai3d/pipeline/depth_model_holder.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/fake/fake_depth_network.h"

namespace vistrelle::ai3d {
namespace {

using capture::CaptureFrame;
using capture::CaptureFramePtr;

void paint(CaptureFrame& frame, int x0, int x1, uint8_t b, uint8_t g, uint8_t r) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = x0; x < x1; ++x) {
      uint8_t* p = frame.row(y) + 4 * x;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      p[3] = 255;
    }
  }
}

class ScalerTest : public ::testing::Test {
 protected:
  ScalerTest() {
    auto network = std::make_unique<inference::FakeDepthNetwork>();
    fake_ = network.get();
    manager_->setModel(std::make_shared<DepthModel>(std::move(network), [](const std::string&) {}));
    scaler_ = MetalPixelBufferScaler::create(queue_);
    manager_->setScaler(scaler_);
  }

  void scaleAndInfer(const std::shared_ptr<CaptureFrame>& frame) {
    scaler_->scaleAndInfer(frame, 518, 294, completion_, frame, manager_, finished_);
  }

  std::shared_ptr<dispatch::VirtualExecutor> queue_ =
      std::make_shared<dispatch::VirtualExecutor>("scaler completion");
  std::shared_ptr<DepthModelHolder> manager_ = std::make_shared<DepthModelHolder>();
  std::shared_ptr<MetalPixelBufferScaler> scaler_;
  inference::FakeDepthNetwork* fake_ = nullptr;
  int depths_ = 0;
  int finished_count_ = 0;
  CaptureFramePtr delivered_;
  DepthCompletion completion_ = [this](const CaptureFramePtr& captured, const DepthMapView* depth) {
    depths_ += depth != nullptr ? 1 : 0;
    delivered_ = captured;
  };
  std::function<void()> finished_ = [this] { ++finished_count_; };
};

TEST_F(ScalerTest, FrameOfTheInputSizePassesTheSameBufferAtOnce) {
  auto frame = std::make_shared<CaptureFrame>(518, 294);
  scaleAndInfer(frame);
  EXPECT_EQ(queue_->pendingCount(), 0u);
  EXPECT_EQ(fake_->runs(), 1);
  EXPECT_EQ(fake_->lastImage().bgra, frame->data());
  EXPECT_EQ(depths_, 1);
  EXPECT_EQ(delivered_, frame);
  EXPECT_EQ(finished_count_, 1);
}

TEST_F(ScalerTest, WideFrameIsStretchedOnTheCompletionQueue) {
  auto frame = std::make_shared<CaptureFrame>(3840, 1080);
  paint(*frame, 0, 1920, 0, 0, 255);     // red
  paint(*frame, 1920, 3840, 255, 0, 0);  // blue
  scaleAndInfer(frame);
  EXPECT_EQ(fake_->runs(), 0) << "inference waits for the completion queue";
  EXPECT_EQ(finished_count_, 0);
  queue_->runUntilIdle();
  ASSERT_EQ(fake_->runs(), 1);
  const inference::ImageInput image = fake_->lastImage();
  EXPECT_NE(image.bgra, frame->data());
  ASSERT_EQ(image.width, 518);
  ASSERT_EQ(image.height, 294);
  EXPECT_EQ(delivered_, frame) << "the captured frame travels untouched";
  EXPECT_EQ(finished_count_, 1);
  for (int y : {0, 147, 293}) {
    const uint8_t* row = image.bgra + image.rowBytes * y;
    EXPECT_EQ(row[4 * 258 + 2], 255) << y;  // last red column
    EXPECT_EQ(row[4 * 258 + 0], 0) << y;
    EXPECT_EQ(row[4 * 259 + 0], 255) << y;  // first blue column
    EXPECT_EQ(row[4 * 259 + 2], 0) << y;
    EXPECT_EQ(row[4 * 259 + 3], 255) << y;
  }
}

// The four taps of a pixel with 8-bit weights, rounded once: the scaler may
// group the work as it likes, the bytes stay these.
TEST(ScalerScale, GivesTheFourTapBytesExactly) {
  auto taps = [](int sourceSize, int i, int targetSize) {
    const double p = std::clamp((i + 0.5) * sourceSize / targetSize - 0.5, 0.0, sourceSize - 1.0);
    const int first = static_cast<int>(std::floor(p));
    return std::tuple{first, std::min(first + 1, sourceSize - 1),
                      static_cast<int>(std::lround((p - first) * 256.0))};
  };
  std::mt19937 rng(5);
  for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{333, 77}}) {
    CaptureFrame source(w, h), target(518, 294);
    for (size_t i = 0; i < source.byteCount(); ++i) source.data()[i] = static_cast<uint8_t>(rng());
    MetalPixelBufferScaler::scale(source, target);
    int bad = 0;
    for (int y = 0; y < 294 && bad < 5; ++y) {
      const auto [ty, by, wy] = taps(h, y, 294);
      for (int x = 0; x < 518 && bad < 5; ++x) {
        const auto [a, b, wx] = taps(w, x, 518);
        for (int c = 0; c < 4; ++c) {
          const int upper = source.row(ty)[4 * a + c] * (256 - wx) + source.row(ty)[4 * b + c] * wx;
          const int lower = source.row(by)[4 * a + c] * (256 - wx) + source.row(by)[4 * b + c] * wx;
          const int want = (upper * (256 - wy) + lower * wy + 32768) >> 16;
          if (target.row(y)[4 * x + c] != want) {
            ++bad;
            ADD_FAILURE() << w << "x" << h << " at (" << x << ", " << y << ") channel " << c;
          }
        }
      }
    }
  }
}

TEST(ScalerScale, UpscalingInterpolatesBilinearly) {
  CaptureFrame source(100, 50);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 100; ++x) {
      uint8_t* p = source.row(y) + 4 * x;
      p[0] = static_cast<uint8_t>(x * 2);
      p[1] = static_cast<uint8_t>(y * 4);
      p[2] = 7;
      p[3] = 255;
    }
  }
  CaptureFrame target(518, 294);
  MetalPixelBufferScaler::scale(source, target);
  // Half-pixel centres: target x maps to (x + 0.5) * 100 / 518 - 0.5.
  for (int x : {0, 100, 259, 400, 517}) {
    const double sx = std::clamp((x + 0.5) * 100.0 / 518.0 - 0.5, 0.0, 99.0);
    EXPECT_NEAR(target.row(147)[4 * x + 0], sx * 2, 1.01) << x;
  }
  for (int y : {0, 60, 147, 293}) {
    const double sy = std::clamp((y + 0.5) * 50.0 / 294.0 - 0.5, 0.0, 49.0);
    EXPECT_NEAR(target.row(y)[4 * 259 + 1], sy * 4, 1.01) << y;
  }
  EXPECT_EQ(target.row(10)[4 * 10 + 2], 7);
}

TEST_F(ScalerTest, FinishedRunsWhenInferenceFails) {
  fake_->setFailure("boom");
  auto frame = std::make_shared<CaptureFrame>(640, 360);
  scaleAndInfer(frame);
  queue_->runUntilIdle();
  EXPECT_EQ(fake_->runs(), 1);
  EXPECT_EQ(delivered_, nullptr) << "no completion for a failed run";
  EXPECT_EQ(finished_count_, 1);
}

TEST_F(ScalerTest, InlineScalerRunsOnTheCaller) {
  scaler_ = MetalPixelBufferScaler::create(nullptr);
  auto frame = std::make_shared<CaptureFrame>(1920, 1080);
  scaleAndInfer(frame);
  EXPECT_EQ(fake_->runs(), 1);
  EXPECT_EQ(fake_->lastImage().width, 518);
  EXPECT_EQ(finished_count_, 1);
}

}  // namespace
}  // namespace vistrelle::ai3d
