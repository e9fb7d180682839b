// The home content's logic: its three states from the plug status and the 3D
// window's result, the display-change rules, the permission wait and the
// duties of its first showing, on fake displays and virtual time.
#include "app/orvex_home_new_view_controller.h"

#include <gtest/gtest.h>

#include <map>

#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/timer/gcx_timer.h"
#include "device/display/displays_rig.h"
#include "support/app_delegate_rig.h"

namespace vistrelle {
namespace {

using testing::AppDelegateRig;
using testing::DisplaysRig;

class RecordingHomeView final : public HomeView {
 public:
  void setOutletHidden(HomeOutlet outlet, bool isHidden) override { hidden[outlet] = isHidden; }
  void setBackgroundColor(HomeOutlet outlet, const std::string& hex) override {
    backgrounds[outlet] = hex;
  }
  void setTipsText(const std::string& text) override { tips = text; }

  // Which of the Part's three states the outlets show, by the table's sets.
  std::string state() const {
    auto shown = [this](HomeOutlet o) { return hidden.count(o) && !hidden.at(o); };
    auto gone = [this](HomeOutlet o) { return hidden.count(o) && hidden.at(o); };
    if (gone(HomeOutlet::connectBgView) && shown(HomeOutlet::tipsLabel0) &&
        shown(HomeOutlet::tipsLabel)) {
      return "tip";
    }
    if (shown(HomeOutlet::connectBgView) && shown(HomeOutlet::connectingLabel) &&
        gone(HomeOutlet::connectErrorLabel) && gone(HomeOutlet::connectErrorTipsLabel) &&
        gone(HomeOutlet::tipsLabel0) && gone(HomeOutlet::tipsLabel)) {
      return "connecting";
    }
    if (shown(HomeOutlet::connectBgView) && shown(HomeOutlet::connectErrorLabel) &&
        shown(HomeOutlet::connectErrorTipsLabel) && gone(HomeOutlet::connectingLabel)) {
      return "error";
    }
    return "other";
  }

  std::map<HomeOutlet, bool> hidden;
  std::map<HomeOutlet, std::string> backgrounds;
  std::string tips;
};

// A desktop machine with a monitor and the glasses at its right.
constexpr const char* kDesktop = R"({"primary": "HDMI-1", "outputs": [
  {"name": "HDMI-1", "monitor": "DELL U2720Q", "mode": "2560x1440"},
  {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [2560, 0]}]})";

class HomeTest : public ::testing::Test {
 protected:
  HomeTest() {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    posts = center.observe(OrvexHomeNewViewController::kStatusChange, nullptr,
                           [this](const Notification& n) { posted.push_back(n.object); });
  }
  ~HomeTest() override {
    // Deliveries still queued and cancelled tasks not yet due hold the
    // queue: run them out, so that nothing outlives the test.
    home.reset();
    main->advanceBy(std::chrono::minutes(1));
  }

  // A home controller over displays laid out as `json`, its view loaded.
  void make(const char* json = kDesktop) {
    home.reset();
    displays = std::make_unique<DisplaysRig>(json);
    displays->trusted = trusted;
    view = RecordingHomeView();
    rig.delegate->showHomeWindow();
    home = std::make_unique<OrvexHomeNewViewController>(
        view, OrvexHomeNewViewController::Environment{
                  rig.delegate.get(), displays->displays.get(), &center, main, &timer,
                  [this] { return canRecord; }, [this] { ++companionStarts; },
                  [this](int x, int y) { cursor.emplace_back(x, y); },
                  [this](DisplayReconfigurationCallback callback) {
                    displayCallback = std::move(callback);
                  }});
    home->viewDidLoad();
  }
  void postStatus(const char* name, Value object) {
    center.post(name, std::move(object));
    main->runUntilIdle();
  }

  std::shared_ptr<dispatch::VirtualExecutor> main = std::make_shared<dispatch::VirtualExecutor>();
  NotificationCenter center;
  AppDelegateRig rig{main};
  GCXTimer timer{main, main};
  std::unique_ptr<DisplaysRig> displays;
  bool trusted = true;
  RecordingHomeView view;
  std::unique_ptr<OrvexHomeNewViewController> home;
  bool canRecord = true;
  int companionStarts = 0;
  std::vector<std::pair<int, int>> cursor;
  DisplayReconfigurationCallback displayCallback;
  Subscription posts;
  std::vector<Value> posted;
};

TEST_F(HomeTest, ViewLoadStartsItsDutiesOnceAndShowsTheTip) {
  make();
  home->viewDidLoad();
  EXPECT_EQ(rig.sleepObservers, 1);
  EXPECT_EQ(companionStarts, 1);
  EXPECT_TRUE(displayCallback);
  EXPECT_FALSE(home->checkAccessibilityTimer().empty());
  for (HomeOutlet outlet : {HomeOutlet::root, HomeOutlet::titleView, HomeOutlet::connectBgView}) {
    EXPECT_EQ(view.backgrounds[outlet], "#ECEDEE");
  }
  EXPECT_TRUE(view.hidden[HomeOutlet::connectBgView]);
  EXPECT_FALSE(view.hidden[HomeOutlet::connectingLabel]);
  EXPECT_TRUE(view.hidden[HomeOutlet::connectErrorLabel]);
  EXPECT_TRUE(view.hidden[HomeOutlet::connectErrorTipsLabel]);
  EXPECT_EQ(view.tips, "Mac mini需连接外接显示器") << "a desktop host";
}

TEST_F(HomeTest, ALaptopIsToldToDisconnectOtherDisplaysInItsLanguage) {
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  make(R"({"outputs": [{"name": "eDP-1", "connector": "Panel", "mode": "1920x1200"}]})");
  EXPECT_EQ(view.tips, "Disconnect other external displays before connecting");
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
}

TEST_F(HomeTest, PlugStatusTable) {
  make();
  const std::pair<Value, const char*> cases[] = {
      {Value(true), "connecting"}, {Value(false), "tip"},
      {Value(1), "connecting"},    {Value(0), "tip"},
      {Value(1.0), "connecting"},  {Value("0"), "connecting"},  // a text is not a status: ignored
      {Value(), "connecting"},
  };
  for (const auto& [object, state] : cases) {
    postStatus(OrvexHomeNewViewController::kStatusChange, object);
    EXPECT_EQ(view.state(), state);
  }
}

TEST_F(HomeTest, OnADesktopWhoseOnlyScreensAreTheGlassesAPlugInShowsTheTip) {
  make(R"({"outputs": [{"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080"}]})");
  postStatus(OrvexHomeNewViewController::kStatusChange, Value(true));
  EXPECT_EQ(view.state(), "tip");
}

TEST_F(HomeTest, AI3DResultTable) {
  struct Case {
    const char* what;
    bool glasses;
    int privacy;
    Value result;
    const char* state;
    WindowContent content;
    bool dims;
  };
  const Case cases[] = {
      {"failed", true, 0, Value(false), "error", WindowContent::home, false},
      {"failed after unplug", false, 0, Value(false), "tip", WindowContent::home, false},
      {"opened", true, 0, Value(true), "other", WindowContent::glassesPanel, false},
      {"opened, privacy on", true, 1, Value(1), "other", WindowContent::glassesPanel, true},
      {"opened after unplug", false, 1, Value(true), "tip", WindowContent::home, false},
      {"not a status", true, 1, Value("1"), "connecting", WindowContent::home, false},
  };
  make();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rig.window->setContent(WindowContent::home);
    rig.brightness.clear();
    postStatus(OrvexHomeNewViewController::kStatusChange, Value(true));
    MainState::shared().glassStatus = c.glasses;
    rig.delegate->setPrivacyScreenLockButtonState(c.privacy);
    postStatus(OrvexHomeNewViewController::kAI3DResult, c.result);
    EXPECT_EQ(view.state(), c.state);
    EXPECT_EQ(rig.window->content(), c.content);
    EXPECT_EQ(rig.brightness,
              c.dims ? std::vector<std::string>{"close"} : std::vector<std::string>{});
    if (c.content == WindowContent::glassesPanel) {
      EXPECT_TRUE(view.hidden[HomeOutlet::connectBgView]);
      EXPECT_FALSE(view.hidden[HomeOutlet::connectingLabel]);
      EXPECT_TRUE(view.hidden[HomeOutlet::connectErrorLabel]);
    }
  }
}

TEST(HomeNotifications, TheResultHeardIsTheOneThe3DWindowPosts) {
  EXPECT_STREQ(OrvexHomeNewViewController::kAI3DResult,
               ai3d::OrvexDepthCustomManager::kSuccessOrError);
}

TEST_F(HomeTest, ALateSuccessAfterUnplugPutsTheHomeBackAndOneAfterTheTimeOutStillSwaps) {
  make();
  MainState::shared().glassStatus = true;
  postStatus(OrvexHomeNewViewController::kAI3DResult, Value(false));  // the 30 s time-out
  postStatus(OrvexHomeNewViewController::kAI3DResult, Value(true));   // the window came after all
  EXPECT_EQ(rig.window->content(), WindowContent::glassesPanel);
  MainState::shared().glassStatus = false;
  postStatus(OrvexHomeNewViewController::kAI3DResult, Value(true));
  EXPECT_EQ(rig.window->content(), WindowContent::home);
  EXPECT_EQ(view.state(), "tip");
}

TEST_F(HomeTest, PermissionsGrantedAfterAMinuteInstallTheMonitorsOnceAtTheNextTick) {
  trusted = false;
  make();
  std::vector<double> installs;
  rig.delegate->setMediaKeyMonitorsInstaller([&] {
    EXPECT_TRUE(main->isCurrent());
    installs.push_back(std::chrono::duration<double>(main->now()).count());
  });
  main->advanceBy(std::chrono::seconds(60));
  EXPECT_TRUE(installs.empty());
  displays->trusted = true;
  main->advanceBy(std::chrono::seconds(60));
  EXPECT_EQ(installs, (std::vector<double>{60.5}));
  EXPECT_EQ(home->checkAccessibilityTimer(), "");
  EXPECT_EQ(timer.liveCount(), 0u);
}

TEST_F(HomeTest, WithoutScreenCaptureTheMonitorsWaitForEver) {
  canRecord = false;
  make();
  main->advanceBy(std::chrono::minutes(5));
  EXPECT_EQ(rig.mediaKeyInstalls, 0);
  EXPECT_NE(home->checkAccessibilityTimer(), "");
  home.reset();
  EXPECT_EQ(timer.liveCount(), 0u) << "the task goes with its controller";
}

TEST_F(HomeTest, DisplayChangeTable) {
  struct Case {
    const char* what;
    const char* json;
    const char* output;  // d
    uint32_t flags;
    bool isGlassesDisplay;  // d is the glasses' recorded display
    std::vector<Value> posts;
    std::vector<std::pair<int, int>> cursor;
  };
  constexpr const char* kDesktopWithMonitorGlasses = R"({"outputs": [
    {"name": "HDMI-1", "monitor": "DELL", "mode": "2560x1440"},
    {"name": "DP-1", "monitor": "ORVEX Monitor2", "mode": "1920x1080", "at": [2560, 0]}]})";
  constexpr const char* kLaptop = R"({"primary": "eDP-1", "outputs": [
    {"name": "eDP-1", "connector": "Panel", "mode": "1920x1200"},
    {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [1920, 0]}]})";
  constexpr const char* kDesktopAlone = R"({"outputs": [
    {"name": "HDMI-1", "monitor": "DELL", "mode": "2560x1440"},
    {"name": "DP-1", "connected": false}]})";
  const Case cases[] = {
      {"the glasses added", kDesktop, "DP-1", 16, false, {Value(1)}, {}},
      {"added, but it is the glasses' display", kDesktop, "DP-1", 16, true, {}, {}},
      {"an ORVEX monitor added", kDesktopWithMonitorGlasses, "DP-1", 16, false, {}, {}},
      {"added on a laptop", kLaptop, "DP-1", 16, false, {}, {}},
      {"removed, one left", kDesktopAlone, "DP-1", 32, false, {Value(0)}, {}},
      {"removed, but it was the glasses' display", kDesktopAlone, "DP-1", 32, true, {}, {}},
      {"removed, two left", kDesktop, "DP-1", 32, false, {}, {}},
      {"removed on a laptop", kLaptop, "DP-1", 32, false, {}, {}},
      {"added and moved: add decides", kDesktop, "DP-1", 16 | 8, false, {Value(1)}, {}},
      {"mode set", kDesktop, "DP-1", 8, false, {}, {{2560 + 1280, 720}}},
      {"main set", kLaptop, "eDP-1", 4, false, {}, {{960, 600}}},
      {"mode set on a display that is off", kDesktopAlone, "DP-1", 8, false, {}, {}},
      {"something else", kDesktop, "DP-1", 2, false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    make(c.json);
    posted.clear();
    cursor.clear();
    const uint32_t d = displays->id(c.output);
    ASSERT_NE(d, 0u);
    rig.delegate->setGlassDisplayID(c.isGlassesDisplay ? d : 0);
    displayCallback(d, c.flags);
    EXPECT_EQ(posted, c.posts);
    EXPECT_EQ(cursor, c.cursor);
  }
}

}  // namespace
}  // namespace vistrelle
