// The glasses settings as widgets: the panel and the popover's quick
// controls as a person sees them, gestures on the tracks through real mouse
// input, the two views following each other, and the number format.
#include "ui/glass_settings_widget.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/settings_change_message.h"
#include "base/helpers/orvex_localization_helper.h"
#include "platform/dispatch/runtime.h"
#include "support/app_delegate_rig.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/locale_decimal_formatter.h"
#include "ui/popover.h"
#include "ui/slider_track.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using testing::AppDelegateRig;
using ui::GlassSettingsWidget;

TEST(LocaleDecimalFormatter, OneOrTwoSignificantDigitsInTheUsersFormat) {
  const auto english = ui::localeDecimalFormatter(QLocale(QLocale::English));
  const auto german = ui::localeDecimalFormatter(QLocale(QLocale::German));
  const std::tuple<double, std::optional<std::string>, std::optional<std::string>> cases[] = {
      {0.01234f, "0.012", "0,012"},
      {0.0005f, "0.0005", "0,0005"},
      {0.015f, "0.015", "0,015"},
      {0.01f, "0.01", "0,01"},
      {0.0, "0", "0"},
      {1.0, "1", "1"},
      {0.000011, "0.000011", "0,000011"},  // never in exponent form
      {std::nan(""), std::nullopt, std::nullopt},
  };
  for (const auto& [value, inEnglish, inGerman] : cases) {
    EXPECT_EQ(english(value), inEnglish) << value;
    EXPECT_EQ(german(value), inGerman) << value;
  }
}

class SettingsWidgetTest : public ::testing::Test {
 protected:
  SettingsWidgetTest() {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    for (const char* name : {kSettingsChangeFromPanel, kSettingsChangeFromPopover}) {
      recorders.push_back(center.observe(name, nullptr, [this](const Notification& n) {
        posted.push_back({n.name, n.object});
      }));
    }
  }
  ~SettingsWidgetTest() override { uitest::settle(); }

  GlassSettingsController::Environment environment(const QLocale& locale = QLocale::c()) {
    GlassSettingsController::Environment env;
    env.delegate = rig.delegate.get();
    env.center = &center;
    env.mainQueue = dispatch::mainQueue();
    env.formatter = ui::localeDecimalFormatter(locale);
    env.print = [](const std::string&) {};
    return env;
  }
  QPoint onTrack(GlassSettingsWidget& view, SettingsSlider slider, int x) {
    ui::SliderTrack* track = view.track(slider);
    return QPoint(x, track->height() / 2);
  }

  FakeStatusPopover popoverFake;
  AppDelegateRig rig{dispatch::mainQueue(), &popoverFake};
  NotificationCenter center;
  std::vector<Subscription> recorders;
  std::vector<std::pair<std::string, Value>> posted;
};

TEST_F(SettingsWidgetTest, ThePanelAsAPersonSeesIt) {
  rig.delegate->setGlassVersion("ORVEX2_FW_V1.63");
  rig.delegate->setModelType(1);
  GlassSettingsWidget panel(GlassSettingsVariant::panel(), environment());
  EXPECT_FALSE(panel.controller().isViewLoaded());
  uitest::showActive(&panel);
  ASSERT_TRUE(panel.controller().isViewLoaded());
  EXPECT_EQ(panel.track(SettingsSlider::depth)->width(), 131);
  EXPECT_EQ(panel.nameLabel()->text(), QString("ORVEX Glass 2"));
  EXPECT_EQ(panel.firmwareVersionLable()->text(), QString("固件版本：V1.63"));
  EXPECT_FALSE(panel.valueLabel(SettingsSlider::depth)->isVisible());
  for (SettingsSlider filter :
       {SettingsSlider::alpha, SettingsSlider::eta, SettingsSlider::sceneChangeThresh}) {
    EXPECT_FALSE(panel.row(filter)->isVisible());
  }
  EXPECT_TRUE(panel.modeMark(1)->isVisible());
  EXPECT_FALSE(panel.modeMark(0)->isVisible());

  const QColor background = ui::hexColor("#ECEDEE");
  const QColor rowColour = uitest::over(ui::hexColor("#FFFFFF", 0.6), background);
  const QImage image = uitest::grab(&panel);
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 5)), background));
  const QRect depthRow = panel.row(SettingsSlider::depth)->geometry();
  EXPECT_TRUE(uitest::near(uitest::pixel(image, depthRow.topLeft() + QPoint(60, 4)), rowColour));
  EXPECT_TRUE(uitest::near(uitest::pixel(image, depthRow.topLeft()), background))
      << "rounded corners";
  // The knob is drawn where the depth puts it: white, over the track.
  const QRect knob = panel.knob(SettingsSlider::depth)->geometry().translated(depthRow.topLeft());
  EXPECT_TRUE(uitest::near(uitest::pixel(image, knob.center()), Qt::white));
  uitest::saveSnapshot(&panel, "glasses-panel");
}

TEST_F(SettingsWidgetTest, ThePopoverAsAPersonSeesItUnderTheIcon) {
  FakeStatusItem tray;
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  tray.setIconGeometry(StatusItem::Geometry{screen.width() / 2 - 12, 0, 24, 24});
  ui::Popover popover(&tray, [] {});
  auto* controls = new GlassSettingsWidget(GlassSettingsVariant::popover(), environment());
  popover.registerContent(PopoverContent::quickControls, controls);
  popover.setContent(PopoverContent::quickControls);
  EXPECT_FALSE(controls->controller().isViewLoaded()) << "not before it shows";
  popover.show();
  uitest::settle();
  ASSERT_TRUE(controls->controller().isViewLoaded());
  EXPECT_EQ(popover.size(),
            QSize(GlassSettingsWidget::kPopoverWidth, GlassSettingsWidget::kPopoverHeight));
  EXPECT_EQ(controls->track(SettingsSlider::depth)->width(), 71);
  EXPECT_EQ(controls->nameLabel(), nullptr);

  const QColor background = ui::hexColor("#ECEDEE");
  const QColor rowColour = uitest::over(ui::hexColor("#FFFFFF", 0.6), background);
  const QImage image = uitest::grab(&popover);
  const QRect depthRow = controls->row(SettingsSlider::depth)->geometry();
  EXPECT_TRUE(uitest::near(uitest::pixel(image, depthRow.topLeft()), rowColour)) << "square rows";
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 3)), background));
  const QRect quit = controls->exitButton()->geometry();
  EXPECT_TRUE(uitest::near(uitest::pixel(image, quit.topLeft() + QPoint(1, 1)), background))
      << "the quit button's round ends";
  EXPECT_TRUE(uitest::near(uitest::pixel(image, quit.center() + QPoint(-80, 0)), rowColour));
  uitest::saveSnapshot(&popover, "popover-quick-controls");

  popover.setContent(PopoverContent::exitView);
  popover.show();
  uitest::settle();
  uitest::saveSnapshot(&popover, "popover-exit-view-after-quick-controls");
  popover.close();
  uitest::settle();
}

TEST_F(SettingsWidgetTest, ATrackTellsPansFromClicksAndABeginningAloneChangesNothing) {
  GlassSettingsWidget panel(GlassSettingsVariant::panel(), environment());
  uitest::showActive(&panel);
  ui::SliderTrack* track = panel.track(SettingsSlider::depth);
  const float before = rig.delegate->depthValue();

  // Pressed, then moved past the drag distance once: the pan has begun only.
  uitest::press(track, onTrack(panel, SettingsSlider::depth, 20));
  uitest::moveMouse(track, onTrack(panel, SettingsSlider::depth, 40));
  EXPECT_TRUE(track->isPanning());
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(rig.delegate->depthValue(), before);
  // Moved on: changed; let go: ended.
  uitest::moveMouse(track, onTrack(panel, SettingsSlider::depth, 100));
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_DOUBLE_EQ(posted.back().second["value"].doubleOr(-1), 100);
  EXPECT_EQ(panel.knobOffset(SettingsSlider::depth), 90);
  uitest::moveMouse(track, onTrack(panel, SettingsSlider::depth, 131 + 30));
  uitest::release(track, onTrack(panel, SettingsSlider::depth, 131 + 30));
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_DOUBLE_EQ(posted[1].second["value"].doubleOr(-1), 131) << "past the end: the width";
  EXPECT_DOUBLE_EQ(posted[2].second["value"].doubleOr(-1), 131);
  EXPECT_EQ(rig.delegate->depthValue(), 0.015f);
  EXPECT_EQ(panel.knob(SettingsSlider::depth)->x(),
            track->x() + 131 - GlassSettingsWidget::kKnobSize + 7);

  // A press and release in place is a click.
  posted.clear();
  uitest::click(track, onTrack(panel, SettingsSlider::depth, 10));
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_DOUBLE_EQ(posted.back().second["value"].doubleOr(-1), 10);

  // A pan whose window goes away is cancelled where it was: it still acts.
  posted.clear();
  uitest::press(track, onTrack(panel, SettingsSlider::depth, 50));
  uitest::moveMouse(track, onTrack(panel, SettingsSlider::depth, 70));
  panel.hide();
  uitest::settle();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_DOUBLE_EQ(posted.back().second["value"].doubleOr(-1), 70);
  EXPECT_FALSE(track->isPanning());
}

TEST_F(SettingsWidgetTest, WithADecimalCommaTheTextShowsItAndTheRawValueIsStored) {
  GlassSettingsWidget panel(GlassSettingsVariant::panel(), environment(QLocale(QLocale::German)));
  uitest::showActive(&panel);
  const double x = 0.01234 / 0.00015 * 131 / 100;  // 107.77
  panel.controller().clickGestureRecognizer(SettingsSlider::depth, x);
  EXPECT_EQ(panel.valueLabel(SettingsSlider::depth)->text(), QString("0,012"));
  const float raw = static_cast<float>(x / (131.0 / 100) * 0.00015f);
  EXPECT_EQ(rig.delegate->depthValue(), raw);
  EXPECT_EQ(rig.defaults.floatForKey("depthScaleValue_UserDefault"), raw);
}

TEST_F(SettingsWidgetTest, ThePanelAndThePopoverFollowEachOther) {
  GlassSettingsWidget panel(GlassSettingsVariant::panel(), environment());
  GlassSettingsWidget controls(GlassSettingsVariant::popover(), environment());
  uitest::showActive(&panel);
  uitest::showActive(&controls);
  // The popover's knob at its right end puts the panel's at its own.
  uitest::click(controls.track(SettingsSlider::depth),
                onTrack(controls, SettingsSlider::depth, 70));
  EXPECT_EQ(panel.knobOffset(SettingsSlider::depth), 131 - 20 + 7);
  EXPECT_EQ(rig.delegate->depthValue(), 0.015f);

  // A mode chosen on the panel marks it in the popover; the privacy switch
  // flips in both.
  uitest::click(panel.modeButton(2));
  EXPECT_TRUE(controls.modeMark(2)->isVisible());
  EXPECT_FALSE(controls.modeMark(0)->isVisible());
  EXPECT_EQ(rig.delegate->modelType(), 2);
  EXPECT_EQ(controls.knobOffset(SettingsSlider::depth),
            131.0 / 100 * (0.012f / 0.00015f) * 0.5419847328244275 - 10);
  uitest::click(controls.privacyScreenLockButton());
  EXPECT_TRUE(controls.privacyScreenLockButton()->isChecked());
  EXPECT_EQ(controls.privacyImage(), "Toggle_on");
  EXPECT_EQ(panel.privacyImage(), "Toggle_on");
  EXPECT_TRUE(panel.privacyScreenLockButton()->isChecked());
  EXPECT_EQ(rig.brightness, (std::vector<std::string>{"close"}));
  uitest::click(panel.privacyScreenLockButton());
  EXPECT_EQ(controls.privacyImage(), "Toggle_Off");
  EXPECT_EQ(rig.brightness, (std::vector<std::string>{"close", "restore"}));
  EXPECT_EQ(rig.defaults.integerForKey("privacyScreenLockState_UserDefault"), 0);

  // A mode chosen in the popover closes it.
  popoverFake.setContent(PopoverContent::quickControls);
  popoverFake.show();
  uitest::click(controls.modeButton(0));
  EXPECT_FALSE(popoverFake.isShown());
  EXPECT_TRUE(panel.modeMark(0)->isVisible());
}

TEST_F(SettingsWidgetTest, ThePopoversQuitButtonEndsTheApplication) {
  GlassSettingsWidget controls(GlassSettingsVariant::popover(), environment());
  uitest::showActive(&controls);
  uitest::click(controls.exitButton());
  EXPECT_EQ(rig.delegate->exitCleanupRuns(), 1);
  EXPECT_TRUE(rig.delegate->isExit());
}

}  // namespace
}  // namespace vistrelle
