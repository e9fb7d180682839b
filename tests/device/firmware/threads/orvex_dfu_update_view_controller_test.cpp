// The update window's logic against a recording view, on virtual time; the
// update itself is a stand-in that runs on the controller's real thread.
#include <gtest/gtest.h>

#include <atomic>

#include "device/firmware/dfu_notifications.h"
#include "device/firmware/orvex_dfu_update_view_controller.h"
#include "device/hid/hid_road_fixture.h"
#include "platform/dispatch/virtual_executor.h"
#include "support/bounded_latch.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;

struct RecordingView : DfuUpdateView {
  void setImage(const std::string& name) override { image = name; }
  void setTipsText(const std::string& text, const DfuTipsStyle& style) override {
    tips = text;
    tipsStyle = style;
  }
  void setTips2Text(const std::string& text) override { tips2 = text; }
  void setButtonHidden(bool hidden) override { buttonHidden = hidden; }
  void setButtonTitle(const std::string& title, const std::string& tint) override {
    buttonTitle = title;
    buttonTint = tint;
  }
  void setButtonBackground(const std::string& color) override { buttonBackground = color; }
  void setProgressHidden(bool hidden) override { progressHidden = hidden; }
  void setProgressValue(double percent) override { progress = percent; }

  std::string image, tips, tips2, buttonTitle, buttonTint, buttonBackground;
  DfuTipsStyle tipsStyle{false, 0, 0, ""};
  bool buttonHidden = true;
  bool progressHidden = false;
  double progress = -1;
};

struct FakeGlasses : DfuGlassesPort {
  std::optional<DfuDeviceIds> connectedDevice() override { return device; }
  int32_t enterDfu() override {
    ++entered;
    return enterResult;
  }
  std::optional<DfuDeviceIds> device;
  int32_t enterResult = 0;
  int entered = 0;
};

constexpr DfuDeviceIds kGlasses{0x0483, 0x8003};
constexpr DfuDeviceIds kBootLoader{0x0416, 0x3F00};

class DfuWindow : public ::testing::Test {
 protected:
  DfuWindow() {
    state.isDfuUpdateStart.store(true);
    OrvexDFUUpdateViewController::Dependencies deps;
    deps.glasses = glasses;
    deps.center = &center;
    deps.state = &state;
    deps.mainQueue = main;
    deps.timer = &timer;
    deps.runUpdate = [this] {
      const int result = updateResult.load();
      ++updates;
      updated->arrive();
      return result;
    };
    deps.localize = [](std::string_view key) { return std::string(key); };
    controller = std::make_unique<OrvexDFUUpdateViewController>(view, deps);
    controller->viewDidLoad();
    // Observing after the window, it sees a post once the window's handling
    // of it is queued.
    notes = std::make_unique<testing::NoteLog>(center);
  }

  void click() {
    updated = std::make_shared<testing::BoundedLatch>(1);
    controller->updateButtonClick();
  }
  // Waits for the `count`th status post and lets the window handle it.
  void settleStatus(size_t count) {
    ASSERT_TRUE(notes->waitFor(dfu_notifications::kStatus, count));
    main->runUntilIdle();
  }
  void expectUpgrading() {
    EXPECT_EQ(view.image, "update-dfu");
    EXPECT_TRUE(state.isDfuUpdateStart.load());
    EXPECT_EQ(view.progress, 0);
    EXPECT_EQ(view.tips, "正在升级，请勿拔出眼镜");
    EXPECT_TRUE(view.buttonHidden);
    EXPECT_FALSE(view.progressHidden);
  }
  void expectFailed() {
    EXPECT_FALSE(view.buttonHidden);
    EXPECT_EQ(view.buttonTitle, "重试");
    EXPECT_EQ(view.buttonTint, "#FF0000");
    EXPECT_EQ(view.buttonBackground, "#FFFFFF");
    EXPECT_TRUE(view.progressHidden);
    EXPECT_EQ(view.image, "update-dfu-failed");
    EXPECT_EQ(view.tips, "升级失败，请重试");
  }

  std::shared_ptr<dispatch::VirtualExecutor> main = std::make_shared<dispatch::VirtualExecutor>();
  GCXTimer timer{main, main};
  NotificationCenter center;
  std::unique_ptr<testing::NoteLog> notes;
  MainState state;
  RecordingView view;
  std::shared_ptr<FakeGlasses> glasses = std::make_shared<FakeGlasses>();
  std::atomic<int> updateResult{0};
  std::atomic<int> updates{0};
  std::shared_ptr<testing::BoundedLatch> updated = std::make_shared<testing::BoundedLatch>(1);
  // Declared last: it goes first, joining its thread before what it uses.
  std::unique_ptr<OrvexDFUUpdateViewController> controller;
};

TEST_F(DfuWindow, LoadsReadyToStart) {
  EXPECT_FALSE(state.isDfuUpdateStart.load());
  EXPECT_EQ(view.image, "update-dfu");
  EXPECT_FALSE(view.buttonHidden);
  EXPECT_EQ(view.buttonTitle, "开始升级");
  EXPECT_EQ(view.buttonTint, "#FFFFFF");
  EXPECT_EQ(view.buttonBackground, "#068EFF");
  EXPECT_TRUE(view.progressHidden);
  EXPECT_EQ(view.tips, "发现眼镜固件新版本");
  EXPECT_EQ(view.tipsStyle, (DfuTipsStyle{true, 5, 18, "#000000"}));
  EXPECT_EQ(view.tips2, "升级耗时约15秒");
  EXPECT_EQ(center.observerCount(dfu_notifications::kStatus), 2u) << "the window and the test";
}

TEST_F(DfuWindow, BootLoaderAlreadyThereRunsTheUpdateAtOnce) {
  glasses->device = kBootLoader;
  updateResult = -1;
  click();
  expectUpgrading();
  ASSERT_TRUE(updated->waitFor());
  EXPECT_EQ(glasses->entered, 0);
  settleStatus(1);
  expectFailed();
  EXPECT_EQ(notes->objects(dfu_notifications::kStatus), (std::vector<Value>{Value(false)}));
}

TEST_F(DfuWindow, GlassesAreSentToTheBootLoaderAndItIsWaitedFor) {
  glasses->device = kGlasses;
  state.glassStatus.store(true);
  click();
  expectUpgrading();
  EXPECT_EQ(glasses->entered, 1);
  main->advanceBy(1250ms - 1ns);
  main->advanceBy(750ms + 1ns);  // the wait began at 1.25 s and polled three times
  EXPECT_EQ(updates.load(), 0);
  state.isBeginUpdateDfu.store(true);  // the boot loader appeared
  main->advanceBy(250ms);
  ASSERT_TRUE(updated->waitFor());
  EXPECT_EQ(updates.load(), 1);
  EXPECT_EQ(timer.liveCount(), 0u);
}

TEST_F(DfuWindow, WaitsAtMostTwentyPollsThenTriesAnyway) {
  glasses->device = kGlasses;
  state.glassStatus.store(true);
  click();
  main->advanceBy(1250ms + 19 * 250ms);
  EXPECT_EQ(updates.load(), 0);
  main->advanceBy(250ms);
  ASSERT_TRUE(updated->waitFor());
  EXPECT_TRUE(notes->objects(dfu_notifications::kStatus).empty());
}

// Each road that cannot go on ends in the failure state instead of an
// "updating" window with no button.
TEST_F(DfuWindow, RoadsThatCannotGoOnShowFailure) {
  struct Case {
    const char* name;
    std::optional<DfuDeviceIds> device;
    int32_t enterResult;
    bool glassesAfterWait;
    int entered;
  };
  const std::vector<Case> cases = {
      {"no connected device", std::nullopt, 0, true, 0},
      {"the switch to the boot loader fails", kGlasses, -1, true, 1},
      {"neither glasses nor boot loader after the wait", kGlasses, 0, false, 1},
  };
  size_t posts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    controller->resetUpdateView();
    glasses->device = c.device;
    glasses->enterResult = c.enterResult;
    glasses->entered = 0;
    state.glassStatus.store(c.glassesAfterWait);
    click();
    main->advanceBy(7s);
    settleStatus(++posts);
    expectFailed();
    EXPECT_EQ(glasses->entered, c.entered);
  }
  EXPECT_EQ(updates.load(), 0);
  EXPECT_EQ(notes->count(dfu_notifications::kStatus), posts);
}

TEST_F(DfuWindow, RetryRunsTheRoadAgain) {
  glasses->device = kGlasses;
  glasses->enterResult = 5;
  click();
  settleStatus(1);
  expectFailed();
  EXPECT_TRUE(state.isDfuUpdateStart.load()) << "true until a success";

  glasses->enterResult = 0;
  state.glassStatus.store(true);
  state.isBeginUpdateDfu.store(true);
  click();
  expectUpgrading();
  EXPECT_EQ(glasses->entered, 2);
  main->advanceBy(1250ms);
  ASSERT_TRUE(updated->waitFor());

  // Still in the boot loader after a failure: the update at once.
  glasses->device = kBootLoader;
  click();
  ASSERT_TRUE(updated->waitFor());
  EXPECT_EQ(glasses->entered, 2);
  EXPECT_EQ(updates.load(), 2);
}

TEST_F(DfuWindow, VersionProgressAndSuccessReachTheView) {
  center.post(dfu_notifications::kVersionShow, Value(1));
  main->runUntilIdle();
  EXPECT_EQ(view.tips2, "版本V1.63");
  center.post(dfu_notifications::kVersionShow, Value(2));
  main->runUntilIdle();
  EXPECT_EQ(view.tips2, "版本V1.49");
  state.dfuUpdateVersion_V2Pro.set("ORVEX2PRO_FW_V2.10");
  center.post(dfu_notifications::kVersionShow, Value(0));
  main->runUntilIdle();
  EXPECT_EQ(view.tips2, "版本V2.10");

  center.post(dfu_notifications::kProgress, Value(42.0f));
  main->runUntilIdle();
  EXPECT_EQ(view.progress, 42);

  state.isDfuUpdateStart.store(true);
  state.isBeginUpdateDfu.store(true);
  center.post(dfu_notifications::kStatus, Value(true));
  main->runUntilIdle();
  EXPECT_FALSE(state.isBeginUpdateDfu.load());
  EXPECT_TRUE(view.buttonHidden);
  EXPECT_TRUE(view.progressHidden);
  EXPECT_EQ(view.image, "update-dfu-success");
  EXPECT_EQ(view.tips, "升级完成，请重新插入眼镜");
  EXPECT_FALSE(state.isDfuUpdateStart.load());

  controller->resetUpdateView();
  EXPECT_EQ(view.image, "update-dfu");
  EXPECT_EQ(view.buttonTitle, "开始升级");
  EXPECT_EQ(view.buttonBackground, "#068EFF");
  EXPECT_FALSE(view.buttonHidden);
  EXPECT_TRUE(view.progressHidden);
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(view.tips2, "升级耗时约15秒");
}

TEST_F(DfuWindow, GoingAwayStopsObservingAndWaiting) {
  glasses->device = kGlasses;
  click();
  EXPECT_EQ(timer.liveCount(), 1u);
  controller->removeObservers();
  EXPECT_EQ(center.observerCount(dfu_notifications::kProgress), 1u) << "the test's only";
  controller.reset();
  EXPECT_EQ(timer.liveCount(), 0u);
  center.post(dfu_notifications::kStatus, Value(false));
  main->advanceBy(10s);
  EXPECT_EQ(updates.load(), 0);
}

}  // namespace
}  // namespace vistrelle::device
