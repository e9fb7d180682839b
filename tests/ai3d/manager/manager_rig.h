#pragma once

// The AI-3D manager on one virtual-time queue (main and global alike), with
// fake glasses, screens and window, a CPU back-end, the carried model
// installed with a programmed network in its place, and a capture stream
// from a fake grabber that yields no frames.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ai3d/pipeline/temp_folder.h"
#include "device/display/glasses_screen_name.h"
#include "platform/capture/fake/fake_screen_grabber.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/fake/fake_depth_network.h"

namespace vistrelle::testing {

using namespace std::chrono_literals;

// The glasses' commands as calls.
class FakeGlasses : public ai3d::GlassesControl {
 public:
  bool hasCurrentDevice() const override { return device; }
  int32_t switchDisplay3D(bool on) override { return record(on ? "3D on" : "3D off"); }
  int32_t setDuty(int32_t duty) override { return record("duty " + std::to_string(duty)); }
  int32_t setLightSensorWearDetection(bool close) override {
    return record(close ? "wear detection off" : "wear detection on");
  }
  int32_t changeIMUWithGlass(bool isClose) override {
    return record(isClose ? "IMU off" : "IMU on");
  }
  uint64_t connectionEpoch() const override { return epoch; }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  bool device = true;
  uint64_t epoch = 1;

 private:
  int32_t record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    return device ? 0 : -1;
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// A table of screens; the display set-up answers true unless told otherwise.
class FakeScreens : public ai3d::GlassScreenFinder {
 public:
  std::vector<ai3d::GlassScreen> screens() override {
    ++scans;
    return table;
  }
  bool isGlassesScreenName(std::string_view name) const override {
    return device::isGlassesScreenName(name);
  }
  bool cancelGlassesMirrorAndMoveMain(bool requireTwoScreens, bool moveMain) override {
    EXPECT_TRUE(requireTwoScreens);
    EXPECT_TRUE(moveMain);
    ++mirrorChecks;
    if (mirrorAnswers.empty()) return true;
    const bool answer = mirrorAnswers.front();
    if (mirrorAnswers.size() > 1) mirrorAnswers.pop_front();
    return answer;
  }

  static ai3d::GlassScreen builtin() { return {41, "Built-in", "DUMMY0", 0, 0, 1920, 1080}; }
  static ai3d::GlassScreen glasses(int width = 3840, std::string output = "DUMMY1") {
    return {42, "ORVEX Glass", std::move(output), 1920, 0, width, 1080};
  }

  std::vector<ai3d::GlassScreen> table{builtin(), glasses()};
  std::deque<bool> mirrorAnswers;  // the last one stays
  int scans = 0;
  int mirrorChecks = 0;
};

// A window that lands where it is moved unless `stuck`; the window
// manager's close is wmClose().
class FakeWindow : public ai3d::DepthWindow {
 public:
  explicit FakeWindow(ai3d::KernelBackend& backend) : views(backend, 32, 18) {}

  ai3d::EyeViewFactory& viewFactory() override { return views; }
  std::string drawingPath() const override { return "raster (fake)"; }
  void makeKeyAndOrderFront() override {
    ++shows;
    visible = true;
  }
  bool isVisible() const override { return visible; }
  bool isOnScreen(const ai3d::GlassScreen& screen) const override {
    return screen.outputName == output;
  }
  bool isFullScreen() const override { return fullScreen; }
  void toggleFullScreen() override {
    fullScreen = !fullScreen;
    ++toggles;
  }
  void centreOnScreen(const ai3d::GlassScreen& screen) override {
    ++moves;
    if (!stuck) output = screen.outputName;
  }
  void close() override { wmClose(); }
  void setWillClose(std::function<void()> hook) override { willClose = std::move(hook); }

  void wmClose() {
    ++closes;
    visible = false;
    fullScreen = false;
    if (willClose) willClose();
  }

  ai3d::CompositorEyeViewFactory views;
  std::string output = "DUMMY0";
  bool visible = false;
  bool fullScreen = false;
  bool stuck = false;
  int shows = 0;
  int toggles = 0;
  int moves = 0;
  int closes = 0;
  std::function<void()> willClose;
};

struct RigOptions {
  bool modelLoads = true;
  bool backend = true;
  bool separateInstall = false;  // the install runs on `install`, not the main queue
  // Real glasses instead of the fake: their command layer, its main state
  // (left as it is) and its main queue.
  ai3d::GlassesControl* glasses = nullptr;
  MainState* state = nullptr;
  std::shared_ptr<dispatch::VirtualExecutor> main = nullptr;
};

class ManagerRig {
 public:
  explicit ManagerRig(RigOptions options = {})
      : main(options.main ? options.main : std::make_shared<dispatch::VirtualExecutor>("main")),
        state(options.state != nullptr ? *options.state : ownState_),
        options_(options) {
    if (options.state == nullptr) {
      state.reset();
      state.glassStatus.store(true);
    }
    state.isOpen3D.store(true);
    state.depthValue.store(0.01f);
    results = center.observe(
        ai3d::OrvexDepthCustomManager::kSuccessOrError, nullptr, [this](const Notification& note) {
          posted.push_back(static_cast<int>(note.object.asInt().value_or(-99)));
          onGlassesWhenPosted.push_back(state.isAI3DWindowOnGlasses.load());
        });
    manager = ai3d::OrvexDepthCustomManager::create(environment());
  }
  ~ManagerRig() {
    main->runUntilIdle();
    manager.reset();
  }

  ai3d::OrvexDepthCustomManager::Environment environment() {
    ai3d::OrvexDepthCustomManager::Environment env;
    env.glasses = options_.glasses != nullptr ? options_.glasses : &glasses;
    env.screens = &screens;
    env.makeWindow = [this](ai3d::KernelBackend& backend) -> std::unique_ptr<ai3d::DepthWindow> {
      ++windowsMade;
      auto made = std::make_unique<FakeWindow>(backend);
      window = made.get();
      return made;
    };
    env.state = &state;
    env.center = &center;
    env.mainQueue = main;
    env.globalQueue = main;
    env.timer = &timer;
    env.makeBackend = [this]() -> std::unique_ptr<ai3d::KernelBackend> {
      if (!options_.backend) return nullptr;
      return ai3d::makeCpuKernelBackend(1);
    };
    env.model.resourcePath = VISTRELLE_BUILT_RESOURCE;
    env.model.dataFolder = (folder.path() / ".OrvexSpace").string();
    env.model.createDataFolder = [this] {
      std::filesystem::create_directories(folder.path() / ".OrvexSpace");
      return true;
    };
    env.model.print = [](const std::string&) {};
    env.model.log = [this](const std::string& line) { logged.push_back(line); };
    env.model.loadNetwork = [this](
                                std::span<const uint8_t>,
                                std::string* reason) -> std::unique_ptr<inference::DepthNetwork> {
      if (!options_.modelLoads) {
        if (reason) *reason = "refused by the test";
        return nullptr;
      }
      return std::make_unique<inference::FakeDepthNetwork>();
    };
    env.installQueue = options_.separateInstall ? install : main;
    env.depthBufferQueue = main;
    env.makeCaptureRecord = [this]() -> std::unique_ptr<ai3d::OrvexScreenCaptureRecord> {
      ai3d::OrvexScreenCaptureRecord::Options record;
      record.videoQueue = main;
      record.mainQueue = main;
      record.log = [](const std::string&) {};
      record.print = [](const std::string&) {};
      record.connect = [](std::string*) {
        auto grabber = std::make_unique<capture::FakeScreenGrabber>(
            std::vector<capture::DisplayInfo>{{5, "MAIN", 0, 0, 32, 18, true}});
        // The stream runs, but no frame goes down the road: what these tests
        // look at is whether capture runs, and frames only cost time.
        grabber->setGrabFailure("no frames in these tests");
        return grabber;
      };
      return std::make_unique<ai3d::OrvexScreenCaptureRecord>(record);
    };
    env.log = [this](const std::string& line) { logged.push_back(line); };
    env.showMessage = [this](const std::string& text) { messages.push_back(text); };
    return env;
  }

  // Runs what is due now.
  void settle() { main->runUntilIdle(); }
  void advance(dispatch::Nanos delta) { main->advanceBy(delta); }

  bool capturing() const {
    auto* controller = manager->deopth3DViewController();
    return controller != nullptr && controller->screenCaptureRecord() != nullptr &&
           controller->screenCaptureRecord()->isRecording();
  }
  bool logs(const std::string& line) const {
    return std::find(logged.begin(), logged.end(), line) != logged.end();
  }
  // The glasses go (a removal moves the connection epoch).
  void unplug() {
    state.glassStatus.store(false);
    ++glasses.epoch;
    glasses.device = false;
  }

  std::shared_ptr<dispatch::VirtualExecutor> main;
  std::shared_ptr<dispatch::VirtualExecutor> install =
      std::make_shared<dispatch::VirtualExecutor>("install");
  GCXTimer timer{main, main};

 private:
  MainState ownState_;

 public:
  MainState& state;
  NotificationCenter center;
  FakeGlasses glasses;
  FakeScreens screens;
  FakeWindow* window = nullptr;
  int windowsMade = 0;
  TempFolder folder;
  std::vector<int> posted;
  std::vector<bool> onGlassesWhenPosted;
  std::vector<std::string> logged;
  std::vector<std::string> messages;
  Subscription results;
  std::shared_ptr<ai3d::OrvexDepthCustomManager> manager;

 private:
  RigOptions options_;
};

}  // namespace vistrelle::testing
