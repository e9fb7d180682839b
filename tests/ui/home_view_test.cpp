// The home content as widgets: its three states as a person sees them, the
// colours it is set up with, and the whole road from the 3D window's success
// to the settings panel in the main window.
#include "ui/orvex_home_new_view.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "base/helpers/orvex_localization_helper.h"
#include "base/timer/gcx_timer.h"
#include "device/display/display_configuration.h"
#include "platform/dispatch/runtime.h"
#include "platform/display/fake/fake_display_server.h"
#include "support/app_delegate_rig.h"
#include "ui/color_from_hex.h"
#include "ui/glass_settings_widget.h"
#include "ui/home_window.h"
#include "ui/slider_track.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using testing::AppDelegateRig;

// Display answers from a fake layout; everything it would write is dropped.
std::unique_ptr<device::DisplayConfiguration> fakeDisplays(const char* json) {
  device::DisplayConfiguration::Options options;
  options.server = display::FakeDisplayServer::fromJson(json);
  options.mainQueue = dispatch::mainQueue();
  const auto drop = [](std::string_view) {};
  options.printLog = drop;
  options.trace = drop;
  options.print = drop;
  options.log = drop;
  return std::make_unique<device::DisplayConfiguration>(std::move(options));
}

constexpr const char* kDesktop = R"({"primary": "HDMI-1", "outputs": [
  {"name": "HDMI-1", "monitor": "DELL U2720Q", "mode": "2560x1440"},
  {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [2560, 0]}]})";

class HomeViewTest : public ::testing::Test {
 protected:
  HomeViewTest() {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    rig = std::make_unique<AppDelegateRig>(
        dispatch::mainQueue(), nullptr, [this]() -> std::unique_ptr<AppWindow> {
          auto made = std::make_unique<ui::HomeWindow>([] { return false; });
          window = made.get();
          return made;
        });
  }
  ~HomeViewTest() override {
    rig.reset();
    uitest::settle();
  }

  OrvexHomeNewViewController::Environment environment() {
    OrvexHomeNewViewController::Environment env;
    env.delegate = rig->delegate.get();
    env.displays = displays.get();
    env.center = &center;
    env.mainQueue = dispatch::mainQueue();
    env.timer = &timer;
    env.canRecordScreen = [] { return true; };
    env.startCompanionServer = [this] { ++companionStarts; };
    env.moveCursor = [](int, int) {};
    env.registerDisplayCallback = [](DisplayReconfigurationCallback) {};
    return env;
  }
  void post(const char* name, Value object) {
    center.post(name, std::move(object));
    uitest::settle();
  }
  bool visible(ui::OrvexHomeNewView* home, HomeOutlet outlet) {
    return home->outlet(outlet)->isVisible();
  }

  std::unique_ptr<device::DisplayConfiguration> displays = fakeDisplays(kDesktop);
  NotificationCenter center;
  GCXTimer timer{dispatch::mainQueue(), dispatch::mainQueue()};
  std::unique_ptr<AppDelegateRig> rig;
  ui::HomeWindow* window = nullptr;
  int companionStarts = 0;
};

TEST_F(HomeViewTest, TipConnectingAndErrorAsAPersonSeesThem) {
  auto* home = new ui::OrvexHomeNewView(environment());
  EXPECT_FALSE(home->controller().isViewLoaded()) << "made, not shown";
  rig->delegate->showHomeWindow();
  window->registerContent(WindowContent::home, home);
  uitest::showActive(window);
  ASSERT_TRUE(home->controller().isViewLoaded());
  EXPECT_EQ(companionStarts, 1);
  EXPECT_EQ(rig->sleepObservers, 1);

  const QColor background = ui::hexColor("#ECEDEE");
  QImage image = uitest::grab(home);
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 300)), background));
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(210, 4)), background)) << "title strip";
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(40, 90)),
                           uitest::over(ui::hexColor("#FFFFFF", 0.6), background)))
      << "the picture's card";
  EXPECT_TRUE(visible(home, HomeOutlet::tipsLabel0));
  EXPECT_TRUE(visible(home, HomeOutlet::tipsLabel));
  EXPECT_FALSE(visible(home, HomeOutlet::connectBgView));
  EXPECT_EQ(home->label(HomeOutlet::tipsLabel)->text(), QString("Mac mini需连接外接显示器"));
  uitest::saveSnapshot(home, "home-tip");

  post(OrvexHomeNewViewController::kStatusChange, Value(1));
  EXPECT_TRUE(visible(home, HomeOutlet::connectBgView));
  EXPECT_TRUE(visible(home, HomeOutlet::connectingLabel));
  EXPECT_FALSE(visible(home, HomeOutlet::connectErrorLabel));
  EXPECT_FALSE(visible(home, HomeOutlet::tipsLabel0));
  // The connecting text covers where the tips were.
  image = uitest::grab(home);
  const QRect tips = home->outlet(HomeOutlet::tipsLabel0)->geometry();
  EXPECT_TRUE(uitest::near(uitest::pixel(image, tips.topLeft() + QPoint(1, 1)), background));
  uitest::saveSnapshot(home, "home-connecting");

  MainState::shared().glassStatus = true;
  post(OrvexHomeNewViewController::kAI3DResult, Value(false));
  EXPECT_TRUE(visible(home, HomeOutlet::connectErrorLabel));
  EXPECT_TRUE(visible(home, HomeOutlet::connectErrorTipsLabel));
  EXPECT_FALSE(visible(home, HomeOutlet::connectingLabel));
  uitest::saveSnapshot(home, "home-error");

  post(OrvexHomeNewViewController::kStatusChange, Value(0));
  EXPECT_TRUE(visible(home, HomeOutlet::tipsLabel0));
  EXPECT_FALSE(visible(home, HomeOutlet::connectBgView));
}

TEST_F(HomeViewTest, TheTextsFollowTheInAppLanguage) {
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  ui::OrvexHomeNewView home(environment());
  uitest::showActive(&home);
  EXPECT_EQ(home.label(HomeOutlet::tipsLabel)->text().toStdString(),
            "A Mac mini needs an external display connected");
  EXPECT_EQ(home.label(HomeOutlet::connectingLabel)->text().toStdString(),
            "Connecting the glasses…");
  uitest::saveSnapshot(&home, "home-tip-english");
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
}

// The 3D window opened: the main window swaps to the panel, whose view loads
// then, from the main state.
TEST_F(HomeViewTest, ASuccessSwapsThePanelInWhichLoadsOnItsFirstShowing) {
  rig->delegate->showHomeWindow();
  auto* home = new ui::OrvexHomeNewView(environment());
  GlassSettingsController::Environment settings;
  settings.delegate = rig->delegate.get();
  settings.center = &center;
  settings.print = [](const std::string&) {};
  auto* panel = new ui::GlassSettingsWidget(GlassSettingsVariant::panel(), settings);
  window->registerContent(WindowContent::home, home);
  window->registerContent(WindowContent::glassesPanel, panel);
  uitest::showActive(window);
  EXPECT_FALSE(panel->controller().isViewLoaded());

  MainState::shared().glassStatus = true;
  rig->delegate->setDepthValue(0.012f);
  rig->delegate->setPrivacyScreenLockButtonState(1);
  post(OrvexHomeNewViewController::kAI3DResult, Value(true));
  EXPECT_EQ(window->content(), WindowContent::glassesPanel);
  EXPECT_TRUE(panel->isVisible());
  ASSERT_TRUE(panel->controller().isViewLoaded());
  EXPECT_EQ(panel->knobOffset(SettingsSlider::depth), 131.0 / 100 * (0.012f / 0.00015f) - 10);
  EXPECT_EQ(panel->privacyImage(), "Toggle_on");
  EXPECT_EQ(rig->brightness, (std::vector<std::string>{"close"}));

  // Unplugged, then a late success: back home, nothing dimmed.
  MainState::shared().glassStatus = false;
  rig->brightness.clear();
  post(OrvexHomeNewViewController::kAI3DResult, Value(true));
  EXPECT_EQ(window->content(), WindowContent::home);
  EXPECT_TRUE(home->isVisible());
  EXPECT_TRUE(rig->brightness.empty());
}

}  // namespace
}  // namespace vistrelle
