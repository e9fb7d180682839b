// The temperature-drift calibration panel laid over the main window: its
// looks and hover states sampled by pixel, the instruction's font by
// language, closing (dimming, callback, the pointer watch) and the restore,
// whose message outlives the panel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>

#include "app/brightness_control.h"
#include "app/calibration/temperature_drift_restore.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/state/main_state.h"
#include "platform/message/fake/fake_transient_message.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/light_palette.h"
#include "ui/orvex_temperature_drift_calibration_view.h"
#include "ui/rounded_color_view.h"
#include "ui/spinning_progress_indicator_layer.h"
#include "ui/toast_transient_message.h"
#include "ui/toast_view.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using Panel = ui::OrvexTemperatureDriftCalibrationView;

class CountingBrightness : public BrightnessControl {
 public:
  void closeBuiltinBrightness() override { ++closes; }
  void restoreBuiltinBrightness() override { ++restores; }
  int closes = 0;
  int restores = 0;
};

// Glasses that take both user-record writes; nothing is read back (the
// restore road's own state says no glasses), so the restore ends at its text.
class WritingGlasses : public TemperatureDriftCommands {
 public:
  int32_t glassGeneration() const override { return 2; }
  uint64_t connectionEpoch() const override { return 1; }
  int32_t setUserImuTempBias(int32_t index, float, float, float, float) override {
    written.push_back(index);
    return 0;
  }
  void getFactoryImuTempBias(uint32_t, int32_t) override { ++reads; }
  std::vector<int32_t> written;
  int reads = 0;
};

class CalibrationPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    message::TransientMessage::install(messages);
    window = new ui::HomeWindow([] { return false; });
    content = new QWidget;
    content->setObjectName("homeContent");
    // Something under the veil, for the person who looks at the snapshots.
    auto* title = new QLabel("Vistrelle", content);
    title->setGeometry(20, 40, 380, 40);
    title->setAlignment(Qt::AlignCenter);
    title->setFont(ui::systemFont(28, true));
    window->registerContent(WindowContent::home, content);
    uitest::showActive(window);
  }
  void TearDown() override {
    delete window;
    uitest::advance(3.0);
    message::TransientMessage::install(nullptr);
  }

  Panel* open(Panel::Dependencies dependencies = {}) {
    if (!dependencies.state) dependencies.state = &state;
    if (!dependencies.brightness) dependencies.brightness = &brightness;
    auto* panel = new Panel(window->currentContentWidget(), std::move(dependencies));
    uitest::settle();
    return panel;
  }
  // A point of `child` (its own coordinates) in the window's.
  QPoint inWindow(QWidget* child, QPoint at) const { return child->mapTo(window, at); }
  QColor pixelAt(QPoint at) const { return uitest::pixel(uitest::grab(window), at); }

  // Title pixels inside the reset button: white ones, and dark ones (darker
  // than the white fill).
  struct TitleInk {
    int white = 0;
    int dark = 0;
  };
  TitleInk titleInk(Panel* panel) const {
    const QImage image = uitest::grab(window);
    const QRect button(inWindow(panel->resetButton(), QPoint(0, 0)), panel->resetButton()->size());
    TitleInk ink;
    for (int x = button.left() + 20; x < button.right() - 20; ++x) {
      for (int y = button.top() + 4; y < button.bottom() - 4; ++y) {
        const QColor c = image.pixelColor(x, y);
        ink.white += c.red() > 235 && c.green() > 235 && c.blue() > 235;
        ink.dark += qGray(c.rgb()) < 200;
      }
    }
    return ink;
  }

  std::shared_ptr<message::FakeTransientMessage> messages =
      std::make_shared<message::FakeTransientMessage>();
  ui::HomeWindow* window = nullptr;
  QWidget* content = nullptr;
  MainState state;
  CountingBrightness brightness;
};

TEST_F(CalibrationPanel, VeilsTheWindowAndShowsTheBoxWithItsTexts) {
  Panel* panel = open();
  EXPECT_EQ(panel->geometry(), content->rect()) << "covers the content it is laid over";
  EXPECT_EQ(content->findChildren<Panel*>().size(), 1);
  EXPECT_EQ(panel->resetButton()->text(), "恢复默认值");
  EXPECT_TRUE(panel->tipsLabel()->text().contains("将眼镜摘下<br>平放在桌上并保持静止"));
  EXPECT_EQ(panel->tipsLabel1()->text(), "正在校准");
  EXPECT_EQ(panel->tipsLabel2()->text(), "请勿移动眼镜");
  EXPECT_EQ(panel->tipsLabel3()->text(), "校准成功");
  EXPECT_EQ(panel->tipsLabel4()->text(), "可以继续使用眼镜");
  EXPECT_TRUE(panel->loadingBgView()->isHidden());
  EXPECT_TRUE(panel->successBgView()->isHidden());
  EXPECT_TRUE(panel->progressIndicator()->isRunning());
  EXPECT_EQ(panel->resetButton()->cornerRadius(), 15);
  EXPECT_EQ(panel->contentBgView()->cornerRadius(), 24);
  EXPECT_FALSE(panel->closeCallBack);

  const QImage image = uitest::grab(window);
  uitest::saveSnapshot(image, "temperature_drift_calibration_panel");
  const QColor windowColour = QApplication::palette().color(QPalette::Window);
  const QColor veil = uitest::pixel(image, QPoint(10, 10));
  EXPECT_TRUE(uitest::near(veil, uitest::over(ui::hexColor("#000000", 0.4), windowColour)))
      << veil.name().toStdString();
  const QColor box = uitest::pixel(image, inWindow(panel->contentBgView(), QPoint(10, 140)));
  EXPECT_TRUE(uitest::near(box, ui::hexColor("#EEF1F7"))) << box.name().toStdString();
  const QColor reset = uitest::pixel(image, inWindow(panel->resetButton(), QPoint(6, 18)));
  EXPECT_TRUE(uitest::near(reset, ui::hexColor("#FFFFFF"))) << reset.name().toStdString();
  // The instruction is drawn in black on the box.
  const QRect tips(inWindow(panel->tipsLabel(), QPoint(0, 0)), panel->tipsLabel()->size());
  int ink = 0;
  for (int x = tips.left(); x < tips.right(); ++x)
    for (int y = tips.top(); y < tips.bottom(); ++y) ink += qGray(image.pixel(x, y)) < 80;
  EXPECT_GT(ink, 50);
}

TEST_F(CalibrationPanel, PointerLightsTheButtonItIsOverAndNothingElse) {
  Panel* panel = open();
  const QPoint onReset = inWindow(panel->resetButton(), QPoint(6, 18));
  const QPoint onClose = inWindow(panel->closeButton(), QPoint(12, 12));
  const QPoint closeRing = inWindow(panel->closeButton(), QPoint(12, 3));
  const QPoint inBox = inWindow(panel->contentBgView(), QPoint(10, 140));
  const QPoint onVeil(10, 10);
  const QColor white = ui::hexColor("#FFFFFF");
  const QColor blue = ui::hexColor("#018DFF");
  const QColor closeRest(0xD1, 0xD1, 0xD6);   // the "close" image's ring
  const QColor closeHover(0x3A, 0x3A, 0x3C);  // "close_hover"

  const struct {
    const char* where;
    QPoint at;
    QColor reset;
    bool whiteTitle;
    QColor close;
  } moves[] = {
      {"reset button", onReset, blue, true, closeRest},
      {"close button", onClose, white, false, closeHover},
      {"box", inBox, white, false, closeRest},
      {"reset button again", onReset, blue, true, closeRest},
      {"veil", onVeil, white, false, closeRest},
  };
  for (const auto& move : moves) {
    uitest::moveMouse(window, move.at);
    if (move.at == onReset) uitest::saveSnapshot(window, "temperature_drift_calibration_hover");
    EXPECT_TRUE(uitest::near(pixelAt(onReset), move.reset))
        << move.where << ": " << pixelAt(onReset).name().toStdString();
    const TitleInk ink = titleInk(panel);
    if (move.whiteTitle) {
      EXPECT_GT(ink.white, 20) << move.where;
    } else {
      EXPECT_GT(ink.dark, 20) << move.where;
    }
    EXPECT_TRUE(uitest::near(pixelAt(closeRing), move.close))
        << move.where << ": " << pixelAt(closeRing).name().toStdString();
  }
}

TEST_F(CalibrationPanel, PointerOverAnotherWindowChangesNothing) {
  Panel* panel = open();
  const QPoint onReset = inWindow(panel->resetButton(), QPoint(6, 18));
  QWidget other;
  other.resize(ui::HomeWindow::kWidth, ui::HomeWindow::kHeight);
  uitest::showActive(&other);
  uitest::moveMouse(&other, onReset);
  EXPECT_TRUE(uitest::near(pixelAt(onReset), ui::hexColor("#FFFFFF")));
  // Back in the panel's window (from another point: a move to where the
  // pointer already is never reaches a window).
  uitest::showActive(window);
  uitest::moveMouse(window, QPoint(10, 10));
  uitest::moveMouse(window, onReset);
  EXPECT_TRUE(uitest::near(pixelAt(onReset), ui::hexColor("#018DFF")));
}

TEST_F(CalibrationPanel, InstructionFontFollowsTheInterfaceLanguage) {
  Panel* panel = open();
  const struct {
    base::Language language;
    int pixelSize;
  } cases[] = {{base::Language::Chinese, 20}, {base::Language::English, 18}};
  for (const auto& c : cases) {
    base::OrvexLocalizationHelper::shared().setLanguage(c.language);
    panel->setTips("line one\nline two");
    EXPECT_EQ(panel->tipsLabel()->font().pixelSize(), c.pixelSize);
    EXPECT_EQ(panel->tipsLabel()->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_TRUE(panel->tipsLabel()->text().contains("line one<br>line two"));
    EXPECT_TRUE(panel->tipsLabel()->text().contains("line-height: 5px"));
    EXPECT_TRUE(panel->tipsLabel()->text().contains("align=\"center\""));
  }
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
  // Markup in a text is shown, not interpreted.
  panel->setTips("<b>x</b>");
  EXPECT_TRUE(panel->tipsLabel()->text().contains("&lt;b&gt;x&lt;/b&gt;"));
}

TEST_F(CalibrationPanel, AClickOutsideTheBoxClosesOnlyWhileCalibratedShows) {
  Panel* panel = open();
  QPointer<Panel> alive(panel);
  int closed = 0;
  panel->closeCallBack = [&] { ++closed; };
  const QPoint outside(10, 10);
  const QPoint insideBox = inWindow(panel->contentBgView(), QPoint(10, 140));

  uitest::click(window, outside);
  EXPECT_TRUE(alive) << "the calibrated view is hidden";
  panel->successBgView()->show();
  uitest::click(window, insideBox);
  EXPECT_TRUE(alive) << "inside the box";
  uitest::click(window, outside);
  EXPECT_FALSE(alive);
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(content->findChildren<Panel*>().isEmpty());
}

TEST_F(CalibrationPanel, ClosingDimsOnlyWithThePrivacyScreenOnAndCallsBackOnce) {
  for (const int privacy : {1, 0}) {
    CountingBrightness dimmer;
    state.privacyScreenLockButtonState.store(privacy);
    Panel::Dependencies dependencies;
    dependencies.brightness = &dimmer;
    Panel* panel = open(dependencies);
    QPointer<Panel> alive(panel);
    QPointer<QObject> watch(panel->hoverWatch());
    ASSERT_TRUE(watch);
    bool ran = false;
    panel->setTimer(uitest::mainQueue().postAfter(std::chrono::seconds(1), [&] { ran = true; }));
    int calls = 0;
    panel->closeCallBack = [&] { ++calls; };

    // Clicked in code: the panel is deleted at the next turn of the loop,
    // and its fields are read before that.
    panel->closeButton()->click();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(panel->calibrateStatus(), -1);
    EXPECT_EQ(panel->errorDataCount(), 0);
    EXPECT_EQ(panel->hoverWatch(), nullptr) << "the watch goes when the panel closes";
    panel->closeView();  // a second close does nothing
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(dimmer.closes, privacy == 1 ? 1 : 0) << "privacy " << privacy;
    EXPECT_EQ(dimmer.restores, 0);
    uitest::advance(2.0);
    EXPECT_FALSE(ran) << "the timer is cancelled";
    EXPECT_FALSE(alive);
    EXPECT_FALSE(watch);
  }
}

TEST_F(CalibrationPanel, TenOpenAndCloseCyclesLeaveNoWatchBehind) {
  std::vector<QPointer<QObject>> watches;
  for (int i = 0; i < 10; ++i) {
    Panel* panel = open();
    watches.emplace_back(panel->hoverWatch());
    uitest::moveMouse(window, inWindow(panel->resetButton(), QPoint(6, 18)));
    panel->closeView();
    uitest::settle();
  }
  for (const auto& watch : watches) EXPECT_FALSE(watch);
  // Pointer events after the last close reach no panel.
  uitest::moveMouse(window, QPoint(200, 380));
  uitest::click(window, QPoint(10, 10));
  EXPECT_TRUE(content->findChildren<Panel*>().isEmpty());
}

TEST_F(CalibrationPanel, RestoreWritesClosesAndItsMessageOutlivesThePanel) {
  // Texts become toasts over the main window's current content, as the
  // application installs them.
  message::TransientMessage::install(std::make_shared<ui::ToastTransientMessage>(
      [this]() -> QWidget* { return window->currentContentWidget(); }));
  auto glasses = std::make_shared<WritingGlasses>();
  MainState roadState;  // no glasses to read the table from
  TemperatureDriftRestore::Options options;
  options.commands = glasses;
  options.state = &roadState;
  auto restore = std::make_shared<TemperatureDriftRestore>(options);
  Panel::Dependencies dependencies;
  dependencies.restore = restore;
  Panel* panel = open(dependencies);
  QPointer<Panel> alive(panel);
  int closed = 0;
  panel->closeCallBack = [&] { ++closed; };

  uitest::click(panel->resetButton());
  EXPECT_EQ(glasses->written, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(glasses->reads, 0);
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(alive);
  const auto toasts = content->findChildren<ui::ToastView*>();
  ASSERT_EQ(toasts.size(), 1);
  EXPECT_EQ(toasts[0]->message(), "已恢复默认值");
  uitest::saveSnapshot(window, "temperature_drift_calibration_restored");
}

TEST_F(CalibrationPanel, RestoreWithoutTheRoadSaysItFailed) {
  ASSERT_EQ(temperatureDriftRestore(), nullptr) << "nothing installs the road in these tests";
  Panel* panel = open();
  QPointer<Panel> alive(panel);
  panel->restoreDefaults();
  uitest::settle();
  EXPECT_FALSE(alive);
  EXPECT_EQ(messages->texts(), std::vector<std::string>{"恢复默认值失败"});
}

}  // namespace
}  // namespace vistrelle
