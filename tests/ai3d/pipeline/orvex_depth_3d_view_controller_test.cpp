#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/dynamic_filter_preset.h"
#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"
#include "platform/capture/capture_frame_pool.h"
#include "platform/capture/fake/fake_screen_grabber.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/fake/fake_depth_network.h"

namespace vistrelle::ai3d {
namespace {

using capture::CaptureFrame;
using capture::CaptureFramePtr;
using ::testing::Contains;
using namespace std::chrono_literals;

constexpr int kW = 518;
constexpr int kH = 294;

std::shared_ptr<CaptureFrame> frameOf(int width, int height, uint8_t level) {
  auto frame = std::make_shared<CaptureFrame>(width, height);
  std::fill(frame->data(), frame->data() + frame->byteCount(), level);
  return frame;
}

TEST(DynamicFilterPreset, TableByScreenMode) {
  struct Case {
    int mode;
    DynamicFilterPreset preset;
  };
  const Case cases[] = {{0, {0.2f, 0.025f, 0.1f}},   {1, {0.12f, 0.03f, 0.08f}},
                        {2, {0.18f, 0.036f, 0.05f}}, {3, {0.05f, 0.2f, 0.05f}},
                        {5, {0.05f, 0.2f, 0.05f}},   {-1, {0.05f, 0.2f, 0.05f}}};
  for (const Case& c : cases) {
    const DynamicFilterPreset got = dynamicFilterPresetForModelType(c.mode);
    EXPECT_FLOAT_EQ(got.alpha, c.preset.alpha) << c.mode;
    EXPECT_FLOAT_EQ(got.eta, c.preset.eta) << c.mode;
    EXPECT_FLOAT_EQ(got.sceneChangeThresh, c.preset.sceneChangeThresh) << c.mode;
  }
}

// The controller on virtual queues, a CPU back-end and a fake model.
class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    auto network = std::make_unique<inference::FakeDepthNetwork>();
    fake_ = network.get();
    model_ = std::make_shared<DepthModel>(
        std::move(network), [this](const std::string& line) { logged_.push_back(line); });
    manager_->setModel(model_);
    manager_->setScaler(MetalPixelBufferScaler::create(completion_));
  }

  OrvexDepth3DViewController::Environment environment() {
    OrvexDepth3DViewController::Environment env;
    env.backend = backend_.get();
    env.viewFactory = &views_;
    env.glassStatus = [this] { return glasses_; };
    env.modelType = [this] { return modelType_; };
    env.depthValue = [this] { return depthValue_; };
    env.depthManager = [this] { return manager_; };
    env.mainQueue = main_;
    env.depthBufferQueue = depth_;
    env.log = [this](const std::string& line) { logged_.push_back(line); };
    env.makeCaptureRecord = [this]() -> std::unique_ptr<OrvexScreenCaptureRecord> {
      OrvexScreenCaptureRecord::Options options;
      options.videoQueue = video_;
      options.mainQueue = main_;
      options.log = [](const std::string&) {};
      options.print = [](const std::string&) {};
      options.connect = [](std::string*) {
        return std::make_unique<capture::FakeScreenGrabber>(
            std::vector<capture::DisplayInfo>{{5, "MAIN", 0, 0, kW, kH, true}});
      };
      return std::make_unique<OrvexScreenCaptureRecord>(options);
    };
    return env;
  }

  void runAll() {
    for (int i = 0; i < 10; ++i) {
      if (depth_->runUntilIdle() + completion_->runUntilIdle() + main_->runUntilIdle() == 0) break;
    }
  }

  std::shared_ptr<CompositorEyeView> view(bool right) {
    auto all = views_.views();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      if ((*it)->isRightEye() == right) return *it;
    }
    return nullptr;
  }

  std::unique_ptr<KernelBackend> backend_ = makeCpuKernelBackend(2);
  CompositorEyeViewFactory views_{*backend_, 64, 36};
  std::shared_ptr<dispatch::VirtualExecutor> main_ = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<dispatch::VirtualExecutor> depth_ = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<dispatch::VirtualExecutor> completion_ =
      std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<dispatch::VirtualExecutor> video_ = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<DepthModelHolder> manager_ = std::make_shared<DepthModelHolder>();
  std::shared_ptr<DepthModel> model_;
  inference::FakeDepthNetwork* fake_ = nullptr;
  std::vector<std::string> logged_;
  bool glasses_ = true;
  int modelType_ = 0;
  float depthValue_ = 0.01f;
};

TEST_F(ControllerTest, SetDynamicFilterParametersFollowsTheScreenMode) {
  OrvexDepth3DViewController controller(environment());
  EXPECT_FLOAT_EQ(controller.alpha, 0.05f);
  EXPECT_FLOAT_EQ(controller.eta, 0.2f);
  EXPECT_FLOAT_EQ(controller.sceneChangeThresh, 0.05f);
  modelType_ = 1;
  controller.setDynamicFilterParameters();
  EXPECT_FLOAT_EQ(controller.alpha, 0.12f);
  EXPECT_FLOAT_EQ(controller.eta, 0.03f);
  EXPECT_FLOAT_EQ(controller.sceneChangeThresh, 0.08f);
  modelType_ = 5;
  controller.setDynamicFilterParameters();
  EXPECT_FLOAT_EQ(controller.alpha, 0.05f);
}

TEST_F(ControllerTest, StartCaptureWithoutGlassesOnlyStops) {
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  glasses_ = false;
  controller.startCapture();
  video_->advanceBy(100ms);
  EXPECT_FALSE(controller.screenCaptureRecord()->isRecording());
  glasses_ = true;
  controller.startCapture();
  video_->advanceBy(100ms);
  EXPECT_TRUE(controller.screenCaptureRecord()->isRecording());
  EXPECT_EQ(controller.screenCaptureRecord()->screen()->name, "MAIN");
  EXPECT_GT(controller.counters().captured, 0u) << "frames flow from the record to the controller";
  controller.stopCapture();
  EXPECT_FALSE(controller.screenCaptureRecord()->isRecording());
}

TEST_F(ControllerTest, StoppingTwiceIsHarmlessRebuildsTheViewsAndDropsTheOldOnes) {
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  std::weak_ptr<EyeView> firstLeft = controller.metalLeftView();
  std::weak_ptr<EyeView> firstRight = controller.metalRightView();
  controller.stopCapture();
  controller.stopCapture();
  main_->runUntilIdle();
  EXPECT_EQ(views_.viewsMade(), 6);
  EXPECT_TRUE(firstLeft.expired()) << "a stopped view is freed, not kept by anyone";
  EXPECT_TRUE(firstRight.expired());
  EXPECT_EQ(views_.views().size(), 2u) << "only the views in use are alive";
  EXPECT_NE(controller.metalLeftView(), nullptr);
  EXPECT_NE(controller.metalRightView(), nullptr);
}

TEST_F(ControllerTest, ATaskLeftInAQueueReachesNoLaterController) {
  {
    OrvexDepth3DViewController first(environment());
    first.viewDidLoad();
    first.stopCapture();  // the views' rebuild waits on the main queue
  }
  OrvexDepth3DViewController second(environment());
  second.viewDidLoad();
  const int made = views_.viewsMade();
  main_->runUntilIdle();
  EXPECT_EQ(views_.viewsMade(), made) << "the first controller's task ran on the second";
  second.stopCapture();
  main_->runUntilIdle();
  EXPECT_EQ(views_.viewsMade(), made + 2) << "the second's own tasks still run";
}

TEST_F(ControllerTest, WithoutModelOrScalerNothingReachesTheViews) {
  for (int missing = 0; missing < 3; ++missing) {
    auto manager = std::make_shared<DepthModelHolder>();
    if (missing != 0) manager->setModel(model_);
    if (missing != 1) manager->setScaler(MetalPixelBufferScaler::create(completion_));
    auto env = environment();
    env.depthManager = [manager, missing]() -> std::shared_ptr<DepthModelHolder> {
      return missing == 2 ? nullptr : manager;
    };
    OrvexDepth3DViewController controller(env);
    controller.viewDidLoad();
    for (int i = 0; i < 3; ++i) {
      controller.onCapturedFrame(frameOf(kW, kH, 9), 0);
      runAll();
    }
    EXPECT_EQ(controller.counters().worked, 3u) << missing;
    EXPECT_EQ(controller.counters().presented, 0u) << missing;
    EXPECT_EQ(view(false)->draws(), 0) << missing;
  }
  EXPECT_EQ(fake_->runs(), 0);
}

TEST_F(ControllerTest, OnlyTheNewestWaitingFrameIsWorkedOn) {
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  std::vector<std::shared_ptr<CaptureFrame>> frames;
  for (int i = 0; i < 10; ++i) {
    frames.push_back(frameOf(kW, kH, static_cast<uint8_t>(i)));
    controller.onCapturedFrame(frames.back(), 0);
  }
  runAll();
  EXPECT_EQ(fake_->runs(), 1);
  EXPECT_EQ(fake_->lastImage().bgra, frames.back()->data());
  const auto counters = controller.counters();
  EXPECT_EQ(counters.captured, 10u);
  EXPECT_EQ(counters.replaced, 9u);
  EXPECT_EQ(counters.worked, 1u);
}

TEST_F(ControllerTest, FailingInferenceAndTheGeneratorsFirstFrameNeverStall) {
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  fake_->setFailure("device lost");
  for (int i = 0; i < 3; ++i) {
    controller.onCapturedFrame(frameOf(640, 360, 1), 0);  // scaled: the async road
    runAll();
  }
  EXPECT_EQ(fake_->runs(), 3);
  EXPECT_EQ(controller.counters().worked, 3u);
  EXPECT_THAT(logged_, Contains("depth Error = device lost"));

  fake_->setFailure("");
  controller.onCapturedFrame(frameOf(640, 360, 1), 0);
  runAll();
  EXPECT_EQ(controller.counters().presented, 0u) << "the generator's first frame gives nothing";
  controller.onCapturedFrame(frameOf(640, 360, 1), 0);
  runAll();
  EXPECT_EQ(controller.counters().presented, 1u);
  EXPECT_EQ(view(false)->draws(), 1);
  EXPECT_EQ(view(true)->draws(), 1);
  EXPECT_EQ(controller.counters().worked, 5u);
}

// Mean of the left eye map's left and right quarters.
std::pair<float, float> quarters(KernelBackend& backend, const KernelMap& map) {
  std::vector<uint16_t> halves(static_cast<size_t>(map.width()) * map.height());
  backend.read(map, halves);
  double left = 0, right = 0;
  const int q = map.width() / 4;
  for (int y = 0; y < map.height(); ++y) {
    for (int x = 0; x < q; ++x) {
      left += halfToFloat(halves[static_cast<size_t>(y) * map.width() + x]);
      right += halfToFloat(halves[static_cast<size_t>(y) * map.width() + map.width() - 1 - x]);
    }
  }
  const double n = static_cast<double>(q) * map.height();
  return {static_cast<float>(left / n), static_cast<float>(right / n)};
}

TEST_F(ControllerTest, ParameterChangeAppliesToTheNextFrame) {
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  bool rising = true;  // depth rising to the right, or falling
  fake_->setFill([&](int x, int, const inference::ImageInput&) {
    return static_cast<float>(rising ? x : kW - 1 - x);
  });
  auto push = [&] {
    controller.onCapturedFrame(frameOf(kW, kH, 1), 0);
    runAll();
    return quarters(*backend_, *view(false)->depthLeftTexture());
  };
  controller.onCapturedFrame(frameOf(kW, kH, 1), 0);
  runAll();
  auto [left, right] = push();
  EXPECT_LT(left, right);
  // Hold on to the past: no blend, no scene cut.
  controller.alpha = 0.0f;
  controller.eta = 1e6f;
  controller.sceneChangeThresh = 1.0f;
  rising = false;
  std::tie(left, right) = push();
  EXPECT_LT(left, right) << "the old map is kept";
  controller.alpha = 1.0f;
  std::tie(left, right) = push();
  EXPECT_GT(left, right) << "the new map passes at once";
}

TEST_F(ControllerTest, TextureCacheFailureLeavesTheViewsEmpty) {
  views_.failTextureCache("status -6660");
  OrvexDepth3DViewController controller(environment());
  controller.viewDidLoad();
  EXPECT_EQ(controller.viewsError(), "status -6660");
  EXPECT_EQ(controller.metalLeftView(), nullptr);
  EXPECT_EQ(controller.metalRightView(), nullptr);
  EXPECT_THAT(logged_, Contains("Failed to create Metal texture cache: status -6660"));
  for (int i = 0; i < 3; ++i) {
    controller.onCapturedFrame(frameOf(kW, kH, 1), 0);
    runAll();
  }
  EXPECT_EQ(controller.counters().worked, 3u);
  EXPECT_EQ(controller.counters().presented, 0u);
}

// Real queues from here on.
class ThreadedControllerTest : public ControllerTest {
 protected:
  ThreadedControllerTest() {
    threadedManager_->setModel(model_);
    threadedManager_->setScaler(
        MetalPixelBufferScaler::create(dispatch::SerialQueue::create("scaler completion", pool_)));
  }
  OrvexDepth3DViewController::Environment threadedEnvironment() {
    auto env = environment();
    env.depthBufferQueue =
        dispatch::SerialQueue::create(OrvexDepth3DViewController::kDepthBufferQueueLabel, pool_);
    env.depthManager = [this] { return threadedManager_; };
    env.makeCaptureRecord = [] { return std::unique_ptr<OrvexScreenCaptureRecord>(); };
    return env;
  }

  std::shared_ptr<dispatch::ThreadPool> pool_ = std::make_shared<dispatch::ThreadPool>(3);
  std::shared_ptr<DepthModelHolder> threadedManager_ = std::make_shared<DepthModelHolder>();
};

TEST_F(ThreadedControllerTest, SlowModelHoldsOneWaitingFrameAndCaptureNeverWaits) {
  OrvexDepth3DViewController controller(threadedEnvironment());
  controller.viewDidLoad();
  fake_->setDelay(50ms);
  // Four frames are enough for capture if at most one waits and one is in
  // work, while the views show one and the next is on its way to them.
  capture::CaptureFramePool pool(4);
  const uint8_t* last = nullptr;
  for (int i = 0; i < 60; ++i) {
    auto frame = pool.acquire(kW, kH);
    ASSERT_NE(frame, nullptr) << "more frames are held than the mailbox allows, at " << i;
    last = frame->data();
    const auto start = std::chrono::steady_clock::now();
    controller.onCapturedFrame(frame, 0);
    // Waiting for the model would take most of its 50 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 40ms) << "capture waited";
    frame.reset();
    std::this_thread::sleep_for(2ms);
    main_->runUntilIdle();  // the views let go of older frames
  }
  controller.waitUntilIdle();
  main_->runUntilIdle();
  EXPECT_EQ(fake_->maxConcurrentRuns(), 1);
  EXPECT_LT(fake_->runs(), 10);
  EXPECT_EQ(fake_->lastImage().bgra, last) << "the newest frame is the last one worked on";
  const auto counters = controller.counters();
  EXPECT_EQ(counters.worked + counters.replaced, counters.captured);
}

TEST_F(ThreadedControllerTest, StopFromTheMainQueueNeverWaitsForASlowModel) {
  OrvexDepth3DViewController controller(threadedEnvironment());
  controller.viewDidLoad();
  std::mutex gateMutex;
  std::condition_variable gate;
  bool entered = false, open = false;
  auto release = [&] {
    std::lock_guard lock(gateMutex);
    open = true;
    gate.notify_all();
  };
  // The generator's first frame gives no maps: prime it, then hold the second.
  fake_->setFill([](int x, int, const inference::ImageInput&) { return float(x); });
  controller.onCapturedFrame(frameOf(640, 360, 1), 0);
  controller.waitUntilIdle();
  // A model pass that lasts until the test lets it end (a real model's
  // 200 ms, without the test depending on how long that is).
  fake_->setFill([&](int x, int y, const inference::ImageInput&) {
    if (x == 0 && y == 0) {
      std::unique_lock lock(gateMutex);
      entered = true;
      gate.notify_all();
      gate.wait(lock, [&] { return open; });
    }
    return static_cast<float>(x);
  });
  controller.onCapturedFrame(frameOf(640, 360, 1), 0);
  {
    std::unique_lock lock(gateMutex);
    ASSERT_TRUE(gate.wait_for(lock, 5s, [&] { return entered; }));
  }
  const float dtBefore = controller.dynamicDepthFilter().lastDt();

  // stopCapture as the main queue runs it, while the model is still in its pass.
  std::promise<void> stopped;
  main_->post([&] {
    controller.stopCapture();
    stopped.set_value();
  });
  std::thread mainThread([&] { main_->runUntilIdle(); });
  const bool returned = stopped.get_future().wait_for(5s) == std::future_status::ready;
  release();
  mainThread.join();
  ASSERT_TRUE(returned) << "stopCapture waited for the frame in work";

  controller.waitUntilIdle();
  main_->runUntilIdle();
  const auto counters = controller.counters();
  EXPECT_EQ(counters.worked, 2u);
  EXPECT_EQ(counters.stale, 1u) << "the frame in work at the stop was dropped";
  EXPECT_EQ(counters.presented, 0u);
  for (const auto& view : views_.views()) EXPECT_EQ(view->draws(), 0) << "nothing of it was drawn";
  EXPECT_EQ(controller.dynamicDepthFilter().lastDt(), dtBefore) << "the filter was not fed";

  // The next session starts afresh: its first frame is filtered as a first frame.
  fake_->setFill([](int x, int, const inference::ImageInput&) { return float(x); });
  controller.onCapturedFrame(frameOf(640, 360, 1), 0);
  controller.waitUntilIdle();
  EXPECT_FLOAT_EQ(controller.dynamicDepthFilter().lastDt(), 16.0f);
}

TEST_F(ThreadedControllerTest, DestructionWaitsForTheFrameInWork) {
  std::mutex gateMutex;
  std::condition_variable gate;
  bool entered = false, open = false;
  std::atomic<bool> passEnded{false};
  fake_->setFill([&](int x, int y, const inference::ImageInput&) {
    if (x == 0 && y == 0) {
      std::unique_lock lock(gateMutex);
      entered = true;
      gate.notify_all();
      gate.wait(lock, [&] { return open; });
      passEnded = true;
    }
    return static_cast<float>(x);
  });
  auto controller = std::make_unique<OrvexDepth3DViewController>(threadedEnvironment());
  controller->viewDidLoad();
  controller->onCapturedFrame(frameOf(640, 360, 1), 0);
  {
    std::unique_lock lock(gateMutex);
    ASSERT_TRUE(gate.wait_for(lock, 5s, [&] { return entered; }));
  }
  // The pass ends only once the destructor has begun (it bumps the session
  // first), so a destructor that did not wait would return before it.
  OrvexDepth3DViewController* dying = controller.get();
  const uint64_t before = dying->session();
  std::thread opener([&] {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (dying->session() == before && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    std::lock_guard lock(gateMutex);
    open = true;
    gate.notify_all();
  });
  controller.reset();
  EXPECT_TRUE(passEnded) << "the controller went while its frame was still in work";
  opener.join();
}

}  // namespace
}  // namespace vistrelle::ai3d
