#include "app/glass_settings_controller.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>

#include "app/orvex_glass_connect_success_popover_view_controller.h"
#include "app/orvex_glass_connect_success_view_controller.h"
#include "app/settings_change_message.h"
#include "base/helpers/orvex_localization_helper.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/virtual_executor.h"
#include "support/app_delegate_rig.h"

namespace vistrelle {
namespace {

using testing::AppDelegateRig;

// Draws nothing; remembers what it was told.
class RecordingSettingsView final : public GlassSettingsView {
 public:
  explicit RecordingSettingsView(double depthTrack, double knob = 20) : knob_(knob) {
    widths_ = {{SettingsSlider::depth, depthTrack},
               {SettingsSlider::alpha, depthTrack},
               {SettingsSlider::eta, depthTrack},
               {SettingsSlider::sceneChangeThresh, depthTrack}};
  }
  double trackWidth(SettingsSlider slider) const override { return widths_.at(slider); }
  double knobWidth(SettingsSlider) const override { return knob_; }
  void setKnobOffset(SettingsSlider slider, double offset) override { offsets[slider] = offset; }
  void setValueText(SettingsSlider slider, const std::string& text) override {
    texts[slider] = text;
  }
  void setModeMarkHidden(int mode, bool hidden) override { marks.at(mode) = hidden; }
  void setPrivacyToggle(int state, const std::string& image) override {
    toggleState = state;
    toggleImage = image;
  }
  void setGlassName(const std::string& name) override { glassName = name; }
  void setFirmwareText(const std::string& text) override { firmware = text; }

  void setTrackWidth(SettingsSlider slider, double width) { widths_[slider] = width; }

  std::map<SettingsSlider, double> offsets;
  std::map<SettingsSlider, std::string> texts;
  std::array<std::optional<bool>, 3> marks;
  int toggleState = -1;
  std::string toggleImage;
  std::string glassName;
  std::string firmware = "(interface file)";

 private:
  std::map<SettingsSlider, double> widths_;
  double knob_;
};

struct Posted {
  std::string name;
  Value object;
};

class GlassSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    for (const char* name : {kSettingsChangeFromPanel, kSettingsChangeFromPopover}) {
      recorders.push_back(center.observe(name, nullptr, [this](const Notification& n) {
        posted.push_back({n.name, n.object});
      }));
    }
  }

  GlassSettingsController::Environment environment() {
    return {rig.delegate.get(), &center, main,
            formatter ? formatter : DecimalFormatter(formatSignificantInCLocale),
            [this](const std::string& line) { printed.push_back(line); }};
  }
  std::unique_ptr<GlassSettingsController> makePanel() {
    return std::make_unique<OrvexGlassConnectSuccessViewController>(panelView, environment());
  }
  std::unique_ptr<GlassSettingsController> makePopover() {
    return std::make_unique<OrvexGlassConnectSuccessPopoverViewController>(popoverView,
                                                                           environment());
  }
  std::optional<float> stored(const char* key) { return rig.defaults.floatForKey(key); }

  std::shared_ptr<dispatch::VirtualExecutor> main = std::make_shared<dispatch::VirtualExecutor>();
  AppDelegateRig rig{main};
  NotificationCenter center;
  RecordingSettingsView panelView{GlassSettingsVariant::kPanelDepthTrack};
  RecordingSettingsView popoverView{GlassSettingsVariant::kPopoverDepthTrack};
  DecimalFormatter formatter;
  std::vector<Subscription> recorders;
  std::vector<Posted> posted;
  std::vector<std::string> printed;
};

TEST(GlassSettingsRules, KnobOffsetKeepsTheKnobInsideTheTrackAtBothEnds) {
  // Panel: K 20, margin 3, ends -7 / W - K + 7; popover: margin 2, ends -8 / W - K + 8.
  struct Case {
    double x, width, base, inset, offset;
  };
  const Case cases[] = {{-5, 131, 14, 7, -7},     {3, 131, 14, 7, -7},    {3.5, 131, 14, 7, -6.5},
                        {65.5, 131, 14, 7, 55.5}, {128, 131, 14, 7, 118}, {500, 131, 14, 7, 118},
                        {2, 71, 16, 8, -8},       {2.5, 71, 16, 8, -7.5}, {69, 71, 16, 8, 59},
                        {0, 0, 14, 7, -7}};
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(GlassSettingsController::knobOffset(c.x, c.width, 20, c.base, c.inset),
                     c.offset)
        << "x " << c.x << " on " << c.width;
  }
}

TEST(GlassSettingsRules, TheFixedFactorsMapOneDepthTrackOntoTheOther) {
  EXPECT_NEAR(GlassSettingsVariant::kPopoverDepthTrack *
                  GlassSettingsVariant::panel().receivedPositionFactor,
              GlassSettingsVariant::kPanelDepthTrack, 1e-9);
  EXPECT_NEAR(GlassSettingsVariant::kPanelDepthTrack *
                  GlassSettingsVariant::popover().receivedPositionFactor,
              GlassSettingsVariant::kPopoverDepthTrack, 1e-9);
}

TEST(GlassSettingsRules, FirmwareNumberComesFromTheOnePartAfterV) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"ORVEX2_FW_V1.63", "1.63"},
      {"ORVEX2PRO_FW_V1.49-RC1", "1.49"},
      {"ORVEX_FW_V1.30-a-b", "1.30"},
      {"V-1.0", std::nullopt},
      {"", std::nullopt},
      {"ORVEX2_FW_V1_V2", std::nullopt}};
  for (const auto& [version, number] : cases) {
    EXPECT_EQ(GlassSettingsController::firmwareVersionNumber(version), number) << version;
  }
}

// Each row drags the panel's depth knob to x and lets go.
TEST_F(GlassSettingsTest, DepthTableStoresTheRoundedValueAndSendsTheKnobPosition) {
  struct Case {
    double x;
    const char* text;  // label; nullptr: none set
    float value;       // depth value stored
    double sent;       // the message's value
    bool comma;        // a user format with a decimal comma
  };
  const double w = GlassSettingsVariant::kPanelDepthTrack;
  const Case cases[] = {
      {-40, "0", 0.0f, 0, false},        // past the left end
      {500, "0.015", 0.015f, w, false},  // past the right end: the width
      {0.01234 / 0.00015 * w / 100, "0.012", 0.012f, 0.01234 / 0.00015 * w / 100, false},
      {0.0005 / 0.00015 * w / 100, "0.0005", 0.0005f, 0.0005 / 0.00015 * w / 100, false},
      {0.01234 / 0.00015 * w / 100, "0,012", 0.01234f, 0.01234 / 0.00015 * w / 100, true},
  };
  auto panel = makePanel();
  panel->viewDidLoad();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    formatter = nullptr;
    if (c.comma) {
      // Rebuilt with the comma format.
      formatter = [](double value) -> std::optional<std::string> {
        auto text = formatSignificantInCLocale(value);
        if (text) std::replace(text->begin(), text->end(), '.', ',');
        return text;
      };
      panel = makePanel();
      panel->viewDidLoad();
    }
    posted.clear();
    panel->panGestureRecognizer(SettingsSlider::depth, GlassSettingsController::PanState::ended,
                                c.x);
    EXPECT_NEAR(rig.delegate->depthValue(), c.value, 1e-7);
    EXPECT_EQ(stored("depthScaleValue_UserDefault"), rig.delegate->depthValue());
    EXPECT_EQ(panelView.texts[SettingsSlider::depth], c.text);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].name, kSettingsChangeFromPanel);
    EXPECT_TRUE(posted[0].object["type"].isDouble()) << "type 1 travels as 1.0";
    EXPECT_EQ(posted[0].object["type"].asInt(), 1);
    EXPECT_NEAR(posted[0].object["value"].doubleOr(-1), c.sent, 1e-9);
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back().rfind(std::string("深度值: ") + c.text + " roundedValue = ", 0), 0u)
        << printed.back();
  }
}

TEST_F(GlassSettingsTest, AGestureOnATrackWithoutWidthChangesAndSendsNothing) {
  // Before layout; with a knob under 14 pixels the value would be 0/0.
  RecordingSettingsView narrow(0, 12);
  OrvexGlassConnectSuccessViewController panel(narrow, environment());
  panel.viewDidLoad();
  rig.delegate->setDepthValue(0.01f);
  narrow.offsets.clear();
  posted.clear();
  panel.clickGestureRecognizer(SettingsSlider::depth, 0);
  panel.panGestureRecognizer(SettingsSlider::depth, GlassSettingsController::PanState::changed, 0);
  panel.clickGestureRecognizer(SettingsSlider::alpha, 0);
  EXPECT_EQ(rig.delegate->depthValue(), 0.01f);
  EXPECT_FALSE(stored("depthScaleValue_UserDefault"));
  EXPECT_TRUE(posted.empty());
  EXPECT_TRUE(narrow.offsets.empty());
  EXPECT_TRUE(std::isfinite(rig.tuning.alpha()));
}

TEST_F(GlassSettingsTest, APanActsWhenChangedEndedOrCancelledAndAClickAlways) {
  using State = GlassSettingsController::PanState;
  auto panel = makePanel();
  panel->viewDidLoad();
  const std::pair<State, bool> cases[] = {{State::began, false},
                                          {State::other, false},
                                          {State::changed, true},
                                          {State::ended, true},
                                          {State::cancelled, true}};
  for (const auto& [state, acts] : cases) {
    posted.clear();
    panelView.offsets.clear();
    panel->panGestureRecognizer(SettingsSlider::depth, state, 60);
    EXPECT_EQ(posted.size(), acts ? 1u : 0u) << static_cast<int>(state);
    EXPECT_EQ(panelView.offsets.count(SettingsSlider::depth), acts ? 1u : 0u);
  }
  posted.clear();
  panel->clickGestureRecognizer(SettingsSlider::depth, 60);
  EXPECT_EQ(posted.size(), 1u);
  EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::depth], 50);
}

TEST_F(GlassSettingsTest, ChoosingAModeStoresItResetsTheDepthAndSendsTypeTwoThenOne) {
  auto panel = makePanel();
  panel->viewDidLoad();
  rig.tuning.clearCalls();
  const std::pair<int, float> modes[] = {{1, 0.01f}, {0, 0.008f}, {2, 0.012f}};
  for (const auto& [mode, depth] : modes) {
    posted.clear();
    panel->modelChangeClick(mode);
    EXPECT_EQ(rig.delegate->modelType(), mode);
    EXPECT_EQ(rig.defaults.integerForKey("ScreenModeUserDefaultsKey"), mode);
    EXPECT_EQ(rig.delegate->depthValue(), depth);
    EXPECT_EQ(stored("depthScaleValue_UserDefault"), depth);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(panelView.marks[i], i != mode);
    const double x = 131.0 / 100 * (depth / 0.00015f);
    EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::depth], x - 10);
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].object, SettingsChangeMessage::mode(mode));
    EXPECT_EQ(posted[1].object["type"].asInt(), 1);
    EXPECT_DOUBLE_EQ(posted[1].object["value"].doubleOr(-1), x);
  }
  // Each choice applied the presets and read the tuning back into the sliders.
  EXPECT_EQ(std::count(rig.tuning.calls().begin(), rig.tuning.calls().end(), "presets"), 3);
  EXPECT_EQ(panelView.texts[SettingsSlider::eta], "eta:0.2");
  // The depth text is left as it was.
  EXPECT_EQ(panelView.texts[SettingsSlider::depth], "0.01");
}

// Records the depth value the delegate holds when the popover is closed.
class ClosingPopover final : public StatusPopover {
 public:
  explicit ClosingPopover(AppDelegate*& delegate) : delegate_(delegate) {}
  void setContent(PopoverContent content) override { fake_.setContent(content); }
  PopoverContent content() const override { return fake_.content(); }
  bool hasContent() const override { return fake_.hasContent(); }
  void show() override { fake_.show(); }
  void close() override {
    fake_.close();
    depthAtClose = delegate_->depthValue();
  }
  bool isShown() const override { return fake_.isShown(); }
  const std::vector<std::string>& calls() const { return fake_.calls(); }

  float depthAtClose = -1;

 private:
  AppDelegate*& delegate_;
  FakeStatusPopover fake_;
};

TEST(GlassSettingsPopover, AModeChoiceClosesThePopoverBeforeTheDepthDefaultIsApplied) {
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  AppDelegate* delegate = nullptr;
  ClosingPopover popover(delegate);
  AppDelegateRig rig(main, &popover);
  delegate = rig.delegate.get();
  NotificationCenter center;
  std::vector<int64_t> types;
  bool closedAtTypeTwo = true;
  Subscription recorder =
      center.observe(kSettingsChangeFromPopover, nullptr, [&](const Notification& n) {
        types.push_back(n.object["type"].intOr(0));
        if (types.back() == 2)
          closedAtTypeTwo = popover.isShown() == false && !popover.calls().empty();
      });
  RecordingSettingsView view(GlassSettingsVariant::kPopoverDepthTrack);
  OrvexGlassConnectSuccessPopoverViewController controller(
      view, {rig.delegate.get(), &center, main, {}, [](const std::string&) {}});
  controller.viewDidLoad();
  popover.setContent(PopoverContent::quickControls);
  popover.show();
  rig.delegate->setDepthValue(0.005f);
  controller.modelChangeClick(2);
  EXPECT_EQ(types, (std::vector<int64_t>{2, 1}));
  EXPECT_FALSE(closedAtTypeTwo) << "closed after type 2 is posted";
  EXPECT_EQ(popover.depthAtClose, 0.005f);
  EXPECT_EQ(rig.delegate->depthValue(), 0.012f);
  EXPECT_TRUE(rig.tuning.calls().empty()) << "the popover sets no presets";
}

TEST_F(GlassSettingsTest, ThePrivacySwitchDimsOrRestoresStoresAndSendsTypeThree) {
  auto panel = makePanel();
  panel->viewDidLoad();
  for (int state : {1, 0}) {
    posted.clear();
    panel->privacyScreenLockButtonClick(state);
    EXPECT_EQ(rig.brightness.back(), state == 1 ? "close" : "restore");
    EXPECT_EQ(panelView.toggleState, state);
    EXPECT_EQ(panelView.toggleImage, state == 1 ? "Toggle_on" : "Toggle_Off");
    EXPECT_EQ(rig.delegate->privacyScreenLockButtonState(), state);
    EXPECT_EQ(rig.defaults.integerForKey("privacyScreenLockState_UserDefault"), state);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].object, SettingsChangeMessage::privacy(state));
  }
  EXPECT_EQ(rig.brightness.size(), 2u);
}

TEST_F(GlassSettingsTest, ViewLoadDrawsFromTheMainStateAndThePanelAlsoShowsTheGlasses) {
  rig.delegate->setDepthValue(0.006f);
  rig.delegate->setModelType(2);
  rig.delegate->setPrivacyScreenLockButtonState(1);
  rig.delegate->setGlassVersion("ORVEX2_FW_V1.63");
  auto panel = makePanel();
  auto popover = makePopover();
  EXPECT_TRUE(panelView.offsets.empty()) << "nothing before the first showing";
  panel->viewDidLoad();
  popover->viewDidLoad();
  EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::depth],
                   131.0 / 100 * (0.006f / 0.00015f) - 10);
  EXPECT_DOUBLE_EQ(popoverView.offsets[SettingsSlider::depth],
                   71.0 / 100 * (0.006f / 0.00015f) - 10);
  EXPECT_EQ(panelView.texts[SettingsSlider::depth], "0.006");
  EXPECT_EQ(popoverView.texts.count(SettingsSlider::depth), 0u);
  for (RecordingSettingsView* view : {&panelView, &popoverView}) {
    EXPECT_EQ(view->marks, (std::array<std::optional<bool>, 3>{true, true, false}));
    EXPECT_EQ(view->toggleImage, "Toggle_on");
  }
  EXPECT_EQ(panelView.glassName, "ORVEX Glass 2");
  EXPECT_EQ(panelView.firmware, "固件版本：V1.63");
  EXPECT_EQ(popoverView.firmware, "(interface file)");
  // The filter sliders on the depth track's scale: alpha 0.05 at 5 % of it.
  EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::alpha], 131.0 / 100 * 5 - 10);
  EXPECT_EQ(panelView.texts[SettingsSlider::alpha], "alpha:0.05");
  EXPECT_EQ(panelView.texts[SettingsSlider::sceneChangeThresh], "sceneChangeThresh:0.05");
  EXPECT_EQ(rig.tuning.calls(), (std::vector<std::string>{"presets"}));
}

TEST_F(GlassSettingsTest, TheVersionNotificationRedrawsTheFirmwareTextOnTheMainQueue) {
  auto panel = makePanel();
  panel->viewDidLoad();
  const std::pair<Value, std::string> cases[] = {
      {Value("ORVEX2_FW_V1.63"), "固件版本：V1.63"},
      {Value("ORVEX2_FW_V1.70-RC1"), "固件版本：V1.70"},
      {Value("ORVEX2_V1_V2"), "固件版本：V1.70"},  // two "_V": unchanged
      {Value("unknown"), "固件版本：V1.70"},       // none: unchanged
      {Value(163), "固件版本：V1.70"},             // not a text: ignored
  };
  for (const auto& [object, firmware] : cases) {
    center.post(device::GlassReport::kVersionNotification, object);
    main->runUntilIdle();
    EXPECT_EQ(panelView.firmware, firmware);
  }
  EXPECT_EQ(rig.delegate->glassVersion(), "unknown");
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  center.post(device::GlassReport::kVersionNotification, Value("ORVEX2_FW_V1.63"));
  main->runUntilIdle();
  EXPECT_EQ(panelView.firmware, "Firmware version: V1.63");
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
}

TEST_F(GlassSettingsTest, EachViewMovesItsKnobForTheOthersMessagesAndIgnoresMalformedOnes) {
  auto panel = makePanel();
  auto popover = makePopover();
  panel->viewDidLoad();
  popover->viewDidLoad();
  // The popover's knob at its right end (71) puts the panel's at its own (131).
  popover->clickGestureRecognizer(SettingsSlider::depth, 71);
  EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::depth], 131 - 20 + 7);
  panel->clickGestureRecognizer(SettingsSlider::depth, 131);
  EXPECT_DOUBLE_EQ(popoverView.offsets[SettingsSlider::depth], 71 - 20 + 8);
  panel->clickGestureRecognizer(SettingsSlider::depth, 65.5);
  EXPECT_NEAR(popoverView.offsets[SettingsSlider::depth], 65.5 * 71 / 131 - 10, 1e-9);
  const size_t stores = rig.defaults.writeCount();
  center.post(kSettingsChangeFromPopover, SettingsChangeMessage::depth(10));
  EXPECT_EQ(rig.defaults.writeCount(), stores) << "a received position stores nothing";

  const double before = panelView.offsets[SettingsSlider::depth];
  const Value malformed[] = {Value(1),
                             Value("type 1"),
                             Value::Map{{"value", 30.0}},
                             Value::Map{{"type", "1"}, {"value", 30.0}},
                             Value::Map{{"type", 1.0}},
                             Value::Map{{"type", 1.0}, {"value", "30"}},
                             Value::Map{{"type", 1.0}, {"value", std::nan("")}},
                             Value::Map{{"type", 9}, {"value", 30.0}}};
  for (const Value& object : malformed) center.post(kSettingsChangeFromPopover, object);
  EXPECT_EQ(panelView.offsets[SettingsSlider::depth], before);

  // Type 2 redraws the marks (and the panel's presets), type 3 the switch.
  rig.tuning.clearCalls();
  rig.delegate->setModelType(1);
  rig.delegate->setPrivacyScreenLockButtonState(1);
  center.post(kSettingsChangeFromPopover, SettingsChangeMessage::mode(1));
  EXPECT_EQ(panelView.marks, (std::array<std::optional<bool>, 3>{true, false, true}));
  EXPECT_EQ(rig.tuning.calls(), (std::vector<std::string>{"presets"}));
  center.post(kSettingsChangeFromPanel, SettingsChangeMessage::privacy(1));
  EXPECT_EQ(popoverView.toggleImage, "Toggle_on");
  EXPECT_EQ(popoverView.toggleState, 1);
}

TEST_F(GlassSettingsTest, APopoverChangeBeforeThePanelHasLoadedReachesNobody) {
  auto panel = makePanel();
  auto popover = makePopover();
  popover->viewDidLoad();
  popover->clickGestureRecognizer(SettingsSlider::depth, 40);
  popover->modelChangeClick(1);
  EXPECT_TRUE(panelView.offsets.empty());
  EXPECT_TRUE(rig.tuning.calls().empty()) << "no presets while the panel has never loaded";
  panel->viewDidLoad();
  EXPECT_DOUBLE_EQ(panelView.offsets[SettingsSlider::depth], 131.0 / 100 * (0.01f / 0.00015f) - 10);
}

TEST_F(GlassSettingsTest, FilterSlidersWriteTheRoundedValueAndTheirTextAndNeedNoTuning) {
  auto panel = makePanel();
  panel->viewDidLoad();
  panel->clickGestureRecognizer(SettingsSlider::alpha, 131 * 0.4567);
  EXPECT_EQ(rig.tuning.alpha(), 0.46f);
  EXPECT_EQ(panelView.texts[SettingsSlider::alpha], "alpha:0.46");
  panel->clickGestureRecognizer(SettingsSlider::eta, 500);
  EXPECT_EQ(rig.tuning.eta(), 1.0f);
  EXPECT_EQ(panelView.texts[SettingsSlider::eta], "eta:1");
  panel->clickGestureRecognizer(SettingsSlider::sceneChangeThresh, -3);
  EXPECT_EQ(rig.tuning.sceneChangeThresh(), 0.0f);
  EXPECT_TRUE(posted.empty()) << "the filter values are neither sent nor stored";

  // Without the 3D window's controller every step that needs it is skipped.
  rig.tuningPresent = false;
  RecordingSettingsView view(GlassSettingsVariant::kPanelDepthTrack);
  OrvexGlassConnectSuccessViewController bare(view, environment());
  bare.viewDidLoad();
  bare.modelChangeClick(2);
  bare.clickGestureRecognizer(SettingsSlider::eta, 40);
  EXPECT_EQ(view.texts[SettingsSlider::eta], "eta:0.31");
  EXPECT_EQ(view.texts.count(SettingsSlider::alpha), 0u);
  EXPECT_EQ(rig.delegate->modelType(), 2);
}

TEST_F(GlassSettingsTest, ThePopoversQuitButtonEndsTheApplication) {
  auto popover = makePopover();
  popover->viewDidLoad();
  popover->exitButtonClick();
  EXPECT_EQ(main->run(), 0);
  EXPECT_EQ(rig.delegate->exitCleanupRuns(), 1);
}

}  // namespace
}  // namespace vistrelle
