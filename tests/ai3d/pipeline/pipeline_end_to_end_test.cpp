// Synthetic frames through the real road: the packed stand-in model on
// OpenCV DNN, the scaler, the temporal filter, the stereo generator and the
// eye-view compositor, on each kernel back-end that can run here.
#include <gtest/gtest.h>

#include "ai3d/kernels/eye_view_compositor.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/depth_model_install.h"
#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"
#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"
#include "ai3d/pipeline/temp_folder.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/linux/opencv_depth_network.h"

namespace vistrelle::ai3d {
namespace {

namespace fs = std::filesystem;

constexpr int kFrameW = 1920;
constexpr int kFrameH = 1080;
constexpr int kLineX = 960;

std::shared_ptr<capture::CaptureFrame> lineFrame() {
  auto frame = std::make_shared<capture::CaptureFrame>(kFrameW, kFrameH);
  for (int y = 0; y < kFrameH; ++y) {
    uint8_t* row = frame->row(y);
    for (int x = 0; x < kFrameW; ++x) {
      const uint8_t level = (x == kLineX || x == kLineX + 1) ? 255 : 40;
      row[4 * x + 0] = level;
      row[4 * x + 1] = level;
      row[4 * x + 2] = level;
      row[4 * x + 3] = 255;
    }
  }
  return frame;
}

// Centroid of the bright pixels of one row between x0 and x1.
double lineCentre(const std::vector<uint8_t>& picture, int width, int y, int x0, int x1) {
  double sum = 0, weight = 0;
  for (int x = x0; x < x1; ++x) {
    const int value = picture[(static_cast<size_t>(y) * width + x) * 4 + 1] - 40;
    if (value <= 20) continue;
    sum += static_cast<double>(value) * (x - x0);
    weight += value;
  }
  return weight > 0 ? sum / weight : -1;
}

class EndToEndTest : public ::testing::TestWithParam<BackendChoice> {
 protected:
  void SetUp() override {
    if (GetParam() == BackendChoice::OpenGl) {
      std::string why;
      backend_ = makeGlKernelBackend(&why);
      if (!backend_) GTEST_SKIP() << "no OpenGL 4.3 context here: " << why;
    } else {
      backend_ = makeCpuKernelBackend(4);
    }
  }

  std::unique_ptr<KernelBackend> backend_;
};

TEST_P(EndToEndTest, NearLineShiftsOppositeWaysInTheTwoEyes) {
  // Install the carried, encrypted model the way the application does.
  testing::TempFolder temp;
  DepthModelEnvironment install;
  install.resourcePath = VISTRELLE_BUILT_RESOURCE;
  install.dataFolder = (temp.path() / ".OrvexSpace").string();
  install.createDataFolder = [&] { return fs::create_directories(install.dataFolder); };
  install.print = [](const std::string&) {};
  install.log = [](const std::string&) {};
  install.loadNetwork = [](std::span<const uint8_t> onnx, std::string* reason) {
    return inference::OpenCvDepthNetwork::load(onnx, {}, reason);
  };
  auto manager = std::make_shared<DepthModelHolder>();
  ASSERT_TRUE(installDepthModel(OrvexDecryptAESGCM::shared(), *manager, install));
  auto completion = std::make_shared<dispatch::VirtualExecutor>();
  manager->setScaler(MetalPixelBufferScaler::create(completion));

  CompositorEyeViewFactory views(*backend_, kFrameW, kFrameH);
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  auto depthQueue = std::make_shared<dispatch::VirtualExecutor>();
  const float depthValue = 0.01f;
  OrvexDepth3DViewController::Environment env;
  env.backend = backend_.get();
  env.viewFactory = &views;
  env.glassStatus = [] { return true; };
  env.modelType = [] { return 0; };
  env.depthValue = [depthValue] { return depthValue; };
  env.depthManager = [manager] { return manager; };
  env.mainQueue = main;
  env.depthBufferQueue = depthQueue;
  env.makeCaptureRecord = [] { return std::unique_ptr<OrvexScreenCaptureRecord>(); };
  std::vector<std::string> logged;
  env.log = [&](const std::string& line) { logged.push_back(line); };
  OrvexDepth3DViewController controller(env);
  controller.viewDidLoad();
  controller.setDynamicFilterParameters();

  const auto frame = lineFrame();
  for (int i = 0; i < 3; ++i) {
    controller.onCapturedFrame(frame, 0);
    for (int step = 0; step < 5; ++step) {
      depthQueue->runUntilIdle();
      completion->runUntilIdle();
      main->runUntilIdle();
    }
  }
  ASSERT_EQ(controller.counters().presented, 2u) << (logged.empty() ? "" : logged.back());

  auto left = std::static_pointer_cast<CompositorEyeView>(controller.metalLeftView());
  auto right = std::static_pointer_cast<CompositorEyeView>(controller.metalRightView());
  ASSERT_EQ(left->bgraTexture(), frame);
  ASSERT_EQ(left->draws(), 2);
  EXPECT_EQ(views.canvas().compositorCalls(), 2) << "one call draws both eyes of a frame";

  // The side-by-side picture of the glasses' 3840 x 1080 display.
  std::vector<uint8_t> sbs(static_cast<size_t>(2 * kFrameW) * kFrameH * 4, 0);
  const BgraImageView frameView{frame->data(), kFrameW, kFrameH, frame->stride()};
  EyeViewCompositor(*backend_).drawSideBySide(frameView, *left->depthLeftTexture(),
                                              *left->depthRightTexture(), depthValue,
                                              {sbs.data(), 2 * kFrameW, kFrameH, 0});

  const int nearRow = 1000;  // the stand-in model puts the bottom nearest
  const double leftEye = lineCentre(sbs, 2 * kFrameW, nearRow, 0, kFrameW);
  const double rightEye = lineCentre(sbs, 2 * kFrameW, nearRow, kFrameW, 2 * kFrameW);
  EXPECT_GT(leftEye, kLineX + 0.5 + 5) << "the left eye sees a near object further right";
  EXPECT_LT(rightEye, kLineX + 0.5 - 5) << "the right eye sees it further left";
  EXPECT_NEAR(leftEye - (kLineX + 0.5), (kLineX + 0.5) - rightEye, 2.0);

  // The views' own picture is that side-by-side one, each eye its half.
  EXPECT_EQ(views.canvas().picture(), sbs);
  const double leftView = lineCentre(left->picture(), kFrameW, nearRow, 0, kFrameW);
  const double rightView = lineCentre(right->picture(), kFrameW, nearRow, 0, kFrameW);
  EXPECT_NEAR(leftView, leftEye, 0.5);
  EXPECT_NEAR(rightView, rightEye, 0.5);

  // Far at the top: hardly any shift.
  const double topLeft = lineCentre(sbs, 2 * kFrameW, 40, 0, kFrameW);
  EXPECT_LT(std::abs(topLeft - (kLineX + 0.5)), std::abs(leftEye - (kLineX + 0.5)) / 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, EndToEndTest,
                         ::testing::Values(BackendChoice::Cpu, BackendChoice::OpenGl),
                         [](const auto& info) {
                           return info.param == BackendChoice::Cpu ? "Cpu" : "OpenGl";
                         });

}  // namespace
}  // namespace vistrelle::ai3d
