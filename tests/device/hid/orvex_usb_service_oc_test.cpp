#include "device/hid/orvex_usb_service_oc.h"

#include <gtest/gtest.h>

#include <map>

#include "device/hid/qx_rig.h"
#include "platform/keyboard/fake/recording_synthetic_keyboard.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using sim::SimGlassesModel;

class OrvexUSBServiceOCTest : public ::testing::Test {
 protected:
  OrvexUSBServiceOCTest() {
    state_.reset();
    state_.isCPUARM.store(true);
    OrvexUSBServiceOC::Options options;
    options.server.backend = sim_.bus;
    options.server.center = &center_;
    options.server.parser = &parser_;
    options.server.state = &state_;
    options.server.defaults = &defaults_;
    options.server.mainQueue = mainQueue_;
    options.server.print = [](std::string_view) {};
    options.server.showMessage = [](const std::string&) {};
    options.keyboard = keyboard_;
    options.environment = [this](const std::string& name) -> std::optional<std::string> {
      auto it = environment_.find(name);
      if (it == environment_.end()) return std::nullopt;
      return it->second;
    };
    options.log = [this](std::string_view line) { logged_.emplace_back(line); };
    service_ = std::make_unique<OrvexUSBServiceOC>(options);
  }

  testing::SimulatedGlassesBus sim_;
  NotificationCenter center_;
  testing::NoteLog notes_{center_};
  WearThresholds thresholds_;
  GlassReport parser_{center_, CompanionLink::none(), thresholds_, [](std::string_view) {}};
  MainState state_;
  InMemoryUserDefaults defaults_;
  std::shared_ptr<dispatch::VirtualExecutor> mainQueue_ =
      std::make_shared<dispatch::VirtualExecutor>("main");
  std::shared_ptr<RecordingSyntheticKeyboard> keyboard_ =
      std::make_shared<RecordingSyntheticKeyboard>();
  std::map<std::string, std::string> environment_;
  std::vector<std::string> logged_;
  std::unique_ptr<OrvexUSBServiceOC> service_;
};

TEST_F(OrvexUSBServiceOCTest, ItsOwnCommandLayerSwitches3DAndPublishesNothing) {
  EXPECT_EQ(service_->open3D(true), -1);
  service_->start();
  EXPECT_EQ(logged_, std::vector<std::string>{"启动设备"});
  EXPECT_FALSE(service_->qxService().publishesConnection());
  auto glasses = sim_.glasses(SimGlassesModel::secondGeneration());
  glasses->plug();
  ASSERT_TRUE(notes_.waitFor(HIDDeviceMonitor::kConnected, 1));
  ASSERT_TRUE(testing::eventually([&] { return service_->qxService().ioHidDevice().has_value(); }));
  EXPECT_EQ(service_->open3D(true), 0);
  ASSERT_TRUE(glasses->waitForWrites(1));
  EXPECT_EQ(glasses->glasses().commandLog().at(0).name, "glass_cmd_display_param");
  mainQueue_->advanceBy(2s);
  EXPECT_EQ(service_->open3D(false), 0);
  ASSERT_TRUE(glasses->waitForWrites(2));
  EXPECT_EQ(glasses->glasses().state().displayMode, 1);
  EXPECT_EQ(notes_.count(OrvexQXServer::kStatusChange), 0u);
  EXPECT_FALSE(state_.glassStatus.load());
}

TEST_F(OrvexUSBServiceOCTest, BlocksAreCalledOnlyWhenSet) {
  service_->printLog("lost");
  service_->updateAppPositionWithResult(1);
  std::vector<std::string> texts;
  std::vector<int64_t> positions;
  service_->setPrintLogOutputBlock([&](const std::string& text) { texts.push_back(text); });
  service_->setUpdateAppPositionBlock([&](int64_t position) { positions.push_back(position); });
  service_->printLog("开始设置分辨率");
  service_->updateAppPositionWithResult(42);
  EXPECT_EQ(texts, std::vector<std::string>{"开始设置分辨率"});
  EXPECT_EQ(positions, std::vector<int64_t>{42});
}

TEST_F(OrvexUSBServiceOCTest, FramesBecomeImagesAndBytes) {
  auto frame = std::make_shared<capture::CaptureFrame>(3, 2);
  for (size_t i = 0; i < frame->byteCount(); ++i) frame->data()[i] = static_cast<uint8_t>(i * 7);
  const auto image = service_->bufferToImage(frame);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 3);
  EXPECT_EQ(image->height, 2);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(std::vector<uint8_t>(image->image->row(y), image->image->row(y) + 12),
              std::vector<uint8_t>(frame->row(y), frame->row(y) + 12));
  }
  const auto data = service_->bufferToData(frame);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->data.size(), frame->stride() * 2);
  EXPECT_EQ(data->data, std::vector<uint8_t>(frame->data(), frame->data() + frame->byteCount()));
  EXPECT_FALSE(service_->bufferToImage(nullptr));
  EXPECT_FALSE(service_->bufferToData(nullptr));
  EXPECT_EQ(logged_, (std::vector<std::string>{"success or error result：0", "width：3, height：2",
                                               "success or error result：0", "width：3, height：2",
                                               "success or error result：-6661",
                                               "success or error result：-6661"}));
}

TEST_F(OrvexUSBServiceOCTest, ScreenRecordingNeedsAnX11Session) {
  const std::vector<std::pair<std::map<std::string, std::string>, bool>> cases{
      {{}, true},
      {{{"XDG_SESSION_TYPE", "x11"}}, true},
      {{{"XDG_SESSION_TYPE", "wayland"}}, false},
      {{{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}}, false},
  };
  for (const auto& [environment, expected] : cases) {
    environment_ = environment;
    EXPECT_EQ(service_->canRecordScreen(), expected);
  }
  service_->showScreenRecordingPrompt();
  service_->simulateThreeFingerSwipeUp();
  EXPECT_EQ(logged_.size(), 2u);
}

TEST_F(OrvexUSBServiceOCTest, SwipeDirectionsBecomeControlArrows) {
  for (int64_t direction : {0, 1, 2, 3, 4, -1}) service_->handleThreeFingerSwipeIsLeft(direction);
  EXPECT_EQ(keyboard_->posted(),
            (std::vector<ArrowKey>{ArrowKey::Up, ArrowKey::Down, ArrowKey::Left, ArrowKey::Right}));
}

}  // namespace
}  // namespace vistrelle::device
