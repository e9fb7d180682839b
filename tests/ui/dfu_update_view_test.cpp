// The firmware-update content of the main window, offscreen: its states as a
// person sees them (saved as PNG files), driven through its logic.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>

#include "device/firmware/dfu_notifications.h"
#include "platform/dispatch/runtime.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/orvex_dfu_update_view.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

struct WaitingGlasses : device::DfuGlassesPort {
  std::optional<device::DfuDeviceIds> connectedDevice() override {
    return device::DfuDeviceIds{0x0483, 0x8003};
  }
  int32_t enterDfu() override { return 0; }
};

class DfuUpdateView : public ::testing::Test {
 protected:
  void SetUp() override {
    device::OrvexDFUUpdateViewController::Dependencies deps;
    deps.glasses = std::make_shared<WaitingGlasses>();
    deps.center = &center;
    deps.state = &state;
    deps.mainQueue = dispatch::Runtime::shared().mainQueue();
    deps.timer = &timer;
    deps.runUpdate = [] { return 0; };
    deps.localize = [](std::string_view key) { return std::string(key); };
    window = new ui::HomeWindow([] { return false; });
    view = new ui::OrvexDfuUpdateView(deps);
    window->registerContent(WindowContent::firmwareUpdate, view);
    window->setContent(WindowContent::firmwareUpdate);
    uitest::showActive(window);
    uitest::settle();
  }
  void TearDown() override { delete window; }

  QImage shot(const QString& name) {
    uitest::settle();
    const QImage image = uitest::grab(view);
    uitest::saveSnapshot(image, name);
    return image;
  }
  QColor at(const QImage& image, QWidget* widget, QPoint offset) {
    return uitest::pixel(image, widget->geometry().topLeft() + offset);
  }

  NotificationCenter center;
  MainState state;
  GCXTimer timer{dispatch::Runtime::shared().mainQueue(), dispatch::Runtime::shared().mainQueue()};
  ui::HomeWindow* window = nullptr;
  ui::OrvexDfuUpdateView* view = nullptr;
};

TEST_F(DfuUpdateView, EachStateAsShown) {
  const QImage ready = shot("dfu-update-ready");
  EXPECT_TRUE(uitest::near(uitest::pixel(ready, {5, 5}), ui::hexColor("#ECEDEE")));
  ui::FlatButton* button = view->updateButton();
  EXPECT_TRUE(uitest::near(at(ready, button, {8, button->height() / 2}), ui::hexColor("#068EFF")));
  EXPECT_EQ(button->text(), "开始升级");
  EXPECT_EQ(button->titleColor(), ui::hexColor("#FFFFFF"));
  EXPECT_TRUE(view->progressIndicator()->isHidden());
  EXPECT_FALSE(view->updateImageView()->pixmap().isNull());
  EXPECT_TRUE(view->tipsLabel1()->text().contains("发现眼镜固件新版本"));
  EXPECT_EQ(view->tipsLabel1()->font().pixelSize(), 18);
  EXPECT_EQ(view->tipsLabel2()->text(), "升级耗时约15秒");

  uitest::click(button);
  center.post(device::dfu_notifications::kVersionShow, Value(1));
  center.post(device::dfu_notifications::kProgress, Value(40.0f));
  const QImage upgrading = shot("dfu-update-upgrading");
  EXPECT_TRUE(button->isHidden());
  QProgressBar* bar = view->progressIndicator();
  ASSERT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->value(), 40);
  EXPECT_TRUE(uitest::near(at(upgrading, bar, {bar->width() / 5, 2}), ui::hexColor("#068EFF")));
  EXPECT_FALSE(
      uitest::near(at(upgrading, bar, {bar->width() * 4 / 5, 2}), ui::hexColor("#068EFF")));
  EXPECT_EQ(view->tipsLabel2()->text(), "版本V1.63");

  center.post(device::dfu_notifications::kStatus, Value(false));
  const QImage failed = shot("dfu-update-failed");
  ASSERT_FALSE(button->isHidden());
  EXPECT_EQ(button->text(), "重试");
  EXPECT_EQ(button->titleColor(), ui::hexColor("#FF0000"));
  EXPECT_TRUE(uitest::near(at(failed, button, {8, button->height() / 2}), ui::hexColor("#FFFFFF")));
  EXPECT_TRUE(bar->isHidden());

  uitest::click(button);  // the retry road: upgrading again
  EXPECT_TRUE(button->isHidden());
  center.post(device::dfu_notifications::kStatus, Value(true));
  shot("dfu-update-succeeded");
  EXPECT_TRUE(button->isHidden());
  EXPECT_TRUE(bar->isHidden());
  EXPECT_TRUE(view->tipsLabel1()->text().contains("升级完成，请重新插入眼镜"));
  EXPECT_FALSE(state.isDfuUpdateStart.load());
}

}  // namespace
}  // namespace vistrelle
