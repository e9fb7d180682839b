#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/fake/fake_status_popover.h"
#include "app/road/road_rig.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/log/orvex_log.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "platform/statusbar/fake/fake_status_item.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle {
namespace {

struct FakeWindow : AppWindow {
  int shows = 0, raises = 0;
  WindowContent shown = WindowContent::home;
  void showCentered() override { ++shows; }
  void bringToFront() override { ++raises; }
  bool isVisible() const override { return shows > 0; }
  void setContent(WindowContent content) override { shown = content; }
  WindowContent content() const override { return shown; }
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vistrelle-app-XXXXXX").string();
    home = mkdtemp(pattern.data());
    setenv("HOME", home.c_str(), 1);  // the launch's log line lands here
    unsetenv("XDG_CONFIG_HOME");
    setenv("LANG", "zh_CN.UTF-8", 1);
    // The in-app language is process-wide; every test starts from Chinese.
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    MainState::shared().reset();
  }
  void TearDown() override { std::filesystem::remove_all(home); }

  std::unique_ptr<AppDelegate> make(FakeStatusItem& tray) {
    AppServices services{main,
                         &defaults,
                         &tray,
                         [this] {
                           auto window = std::make_unique<FakeWindow>();
                           lastWindow = window.get();
                           ++windowsMade;
                           return window;
                         },
                         [this](const std::string& line) { traces.push_back(line); },
                         &popover};
    // The glasses' side on fakes: a layout in memory, an empty simulated
    // bus, an X11 session that may be captured, no companion server.
    services.qxServer.backend = bus;
    services.displays = displays.displays.get();
    services.globalQueue = main;
    services.isWaylandSession = [] { return false; };
    services.canRecordScreen = [] { return true; };
    services.isScreenLocked = [] { return false; };
    services.installCompanionBridge = [](device::OrvexQXServer&) {};
    services.addAudioOutputVolumeListener = [] {};
    services.removeAudioOutputVolumeListener = [] {};
    return std::make_unique<AppDelegate>(std::move(services));
  }

  std::string home;
  std::shared_ptr<dispatch::VirtualExecutor> main = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<sim::SimHidBus> bus = sim::SimHidBus::create();
  testing::DisplaysRig displays{testing::kExtendedLayout, nullptr, &MainState::shared()};
  InMemoryUserDefaults defaults;
  FakeStatusPopover popover;
  FakeWindow* lastWindow = nullptr;
  int windowsMade = 0;
  std::vector<std::string> traces;
};

TEST_F(AppDelegateTest, LaunchSetsUpTheItemLoadsSettingsAndShowsOneWindow) {
  FakeStatusItem tray;
  defaults.setInteger("ScreenModeUserDefaultsKey", 1);
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(appDelegate, delegate.get());
  EXPECT_EQ(tray.image(), "toplogoIcon");
  EXPECT_TRUE(tray.shown());
  // The application menu exists but the item opens popovers only: the status
  // item has no menu to attach it to.
  ASSERT_EQ(delegate->appMenu().size(), 1u);
  EXPECT_EQ(delegate->appMenu()[0].title, "退出Vistrelle");
  EXPECT_EQ(delegate->modelType(), 1);
  EXPECT_EQ(delegate->depthValue(), 0.01f);
  EXPECT_FALSE(delegate->isOverseas());
  EXPECT_EQ(windowsMade, 1);
  EXPECT_EQ(lastWindow->shows, 1);
  delegate->showHomeWindow();
  EXPECT_EQ(windowsMade, 1) << "the window is made once and kept";
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  EXPECT_EQ(lastWindow->raises, 1);
  std::ifstream log(home + "/Documents/.OrvexSpace/orvex_log_Vistrelle.log");
  std::string line;
  std::getline(log, line);
  EXPECT_NE(line.find(": === App Start ==="), std::string::npos) << line;
}

TEST_F(AppDelegateTest, QuitRunsTheCleanUpOnceOnTheMainQueueAndEndsTheLoopWithZero) {
  FakeStatusItem tray;
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  main->post([&] { delegate->terminate(); });  // the exit view's button
  main->post([&] { delegate->terminate(); });  // a signal arriving meanwhile
  EXPECT_EQ(main->run(), 0);
  EXPECT_EQ(delegate->exitCleanupRuns(), 1);
  EXPECT_TRUE(delegate->isExit());
  delegate->applicationWillTerminate();  // the loop's own quit hook afterwards
  EXPECT_EQ(delegate->exitCleanupRuns(), 1);
}

TEST_F(AppDelegateTest, ClosingTheWindowHidesWithATrayAndQuitsWithout) {
  FakeStatusItem tray(/*trayPresent=*/true);
  auto withTray = make(tray);
  withTray->applicationDidFinishLaunching();
  EXPECT_FALSE(withTray->windowShouldCloseAndQuit());
  main->runUntilIdle();
  EXPECT_EQ(withTray->exitCleanupRuns(), 0);
  withTray.reset();

  FakeStatusItem none(/*trayPresent=*/false);
  auto withoutTray = make(none);
  withoutTray->applicationDidFinishLaunching();
  EXPECT_TRUE(withoutTray->windowShouldCloseAndQuit());
  EXPECT_EQ(main->run(), 0);
  EXPECT_EQ(withoutTray->exitCleanupRuns(), 1);
}

// The icon is shown even when no tray exists at launch (a panel started after
// the application), and closing the window is decided by whether the icon is
// shown at that moment: a tray that comes later keeps the application; one
// that goes away makes closing quit again.
TEST_F(AppDelegateTest, ATrayAppearingOrLeavingAfterLaunchDecidesWhatClosingDoes) {
  FakeStatusItem tray(/*trayPresent=*/false);
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  EXPECT_TRUE(tray.shown()) << "shown unconditionally";
  tray.setTrayPresent(true);
  EXPECT_FALSE(delegate->windowShouldCloseAndQuit());
  main->runUntilIdle();
  EXPECT_EQ(delegate->exitCleanupRuns(), 0);
  tray.setTrayPresent(false);
  EXPECT_TRUE(delegate->windowShouldCloseAndQuit());
  EXPECT_EQ(main->run(), 0);
  EXPECT_EQ(delegate->exitCleanupRuns(), 1);
}

// A left click shows the quick controls only while glasses are connected and
// no firmware update runs; a right click always shows a fresh exit view.
TEST_F(AppDelegateTest, StatusItemClickTable) {
  struct Case {
    bool glasses;
    bool dfu;
    StatusItem::Click click;
    PopoverContent content;
    bool shown;
  };
  using enum StatusItem::Click;
  const Case cases[] = {
      {true, false, Left, PopoverContent::quickControls, true},
      {false, false, Left, PopoverContent::none, false},
      {true, true, Left, PopoverContent::none, false},
      {false, true, Left, PopoverContent::none, false},
      {true, false, Right, PopoverContent::exitView, true},
      {false, false, Right, PopoverContent::exitView, true},
      {true, true, Right, PopoverContent::exitView, true},
      {false, true, Right, PopoverContent::exitView, true},
  };
  FakeStatusItem tray;
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(popover.calls(), (std::vector<std::string>{"content:none"}))
      << "the item's set-up fills the popover for the state at launch";
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.glasses << c.dfu << (c.click == Left ? "L" : "R"));
    popover.clickOutside();
    delegate->setGlassStatus(c.glasses);
    delegate->setIsDfuUpdate(c.dfu);
    tray.click(c.click);
    EXPECT_EQ(delegate->mouseClick(), c.click == Left ? 1 : 2);
    EXPECT_EQ(popover.content(), c.content);
    EXPECT_EQ(popover.isShown(), c.shown);
  }
  EXPECT_EQ(popover.exitViewsMade(), 4) << "every right click builds the view anew";
  EXPECT_EQ(lastWindow->shows, 1) << "clicks never reach the window";
}

TEST_F(AppDelegateTest, ALeftClickWhoseContentWentClosesTheOpenPopover) {
  FakeStatusItem tray;
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  tray.click(StatusItem::Click::Right);
  ASSERT_TRUE(popover.isShown());
  tray.click(StatusItem::Click::Left);
  EXPECT_FALSE(popover.isShown());
  EXPECT_EQ(popover.calls().back(), "close");
}

TEST_F(AppDelegateTest, OverseasLocaleSwitchesToEnglishBeforeTheItemIsBuilt) {
  setenv("LANG", "en_US.UTF-8", 1);
  FakeStatusItem tray;
  auto delegate = make(tray);
  delegate->applicationDidFinishLaunching();
  EXPECT_TRUE(delegate->isOverseas());
  ASSERT_EQ(delegate->appMenu().size(), 1u);
  EXPECT_EQ(delegate->appMenu()[0].title, "Quit Vistrelle");
  EXPECT_FALSE(delegate->checkisChinaSimplified());
}

}  // namespace
}  // namespace vistrelle
