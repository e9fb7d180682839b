#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/decimal_text.h"
#include "app/glass_settings_variant.h"
#include "app/glass_settings_view.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"

namespace vistrelle {

class AppDelegate;

// The glasses settings: depth strength, screen mode and privacy screen (and,
// on the panel, the glasses' name, firmware text and the hidden filter
// sliders).  One logic for the panel in the main window and the quick
// controls in the status item's popover, which differ as GlassSettingsVariant
// says.  Each tells the other of a change through the settings-change message
// and redraws itself from the other's; the state itself lives in the main
// state and the user-defaults store.  Main thread only.
class GlassSettingsController {
 public:
  // A pan recogniser's states: it acts on changed, ended and cancelled.
  enum class PanState { began, changed, ended, cancelled, other };

  struct Environment {
    AppDelegate* delegate = nullptr;       // required; outlives the controller
    NotificationCenter* center = nullptr;  // default: the default centre
    // Where the firmware-version notification is handled; default: the
    // runtime's main queue.
    dispatch::ExecutorPtr mainQueue;
    // The value texts, in the user's number format; default: the C locale.
    DecimalFormatter formatter;
    // Console lines; default: standard output.
    std::function<void(const std::string&)> print;
  };

  // Depth strength: 0..0.015, the knob's position times 0.00015 per
  // hundredth of the track.
  static constexpr float kMaxDepth = 0.015f;
  static constexpr float kDepthPerHundredth = 0.00015f;
  static constexpr float kFilterPerHundredth = 0.01f;

  GlassSettingsController(GlassSettingsView& view, GlassSettingsVariant variant,
                          Environment environment);
  virtual ~GlassSettingsController();
  GlassSettingsController(const GlassSettingsController&) = delete;
  GlassSettingsController& operator=(const GlassSettingsController&) = delete;

  // The first time the view shows: knob, texts and marks from the main
  // state, then the observers, which stay for the controller's life.  Later
  // calls do nothing.
  void viewDidLoad();
  bool isViewLoaded() const { return loaded_; }
  const GlassSettingsVariant& variant() const { return variant_; }

  // ---- Actions ----
  // x is along the slider's track.  Nothing happens on a track that has no
  // width yet.
  void panGestureRecognizer(SettingsSlider slider, PanState state, double x);
  void clickGestureRecognizer(SettingsSlider slider, double x);
  // The mode buttons carry tags 0 (web), 1 (game), 2 (video).
  void modelChangeClick(int tag);
  // The switch has already flipped: state is its new state.
  void privacyScreenLockButtonClick(int state);
  // The popover's quit button.
  void exitButtonClick();

  // ---- Operations ----
  void setSliderPosition(SettingsSlider slider, double x);
  void depthChanged(double x);
  void modeChanged(int tag);
  void refreshModeUI();
  void privacyScreenLockClicked(int state);
  // alphaChanged, etaChanged, sceneChangeThreshChanged.
  void filterChanged(SettingsSlider slider, double x);
  void refreshFilterSliders();
  void showFirmwareVersion();

  // The knob's leading offset for a position x on a track of width W with a
  // knob of width K.
  static double knobOffset(double x, double trackWidth, double knobWidth, double marginBase,
                           double endInset);
  // The depth strength at x before rounding.
  static float rawDepthValue(double x, double trackWidth, double knobWidth);
  // A filter value at x before rounding: 0..1.
  static float rawFilterValue(double x, double trackWidth);
  // What follows "V" in the firmware text of a version such as
  // "ORVEX2_FW_V1.63-RC1" ("1.63"); none unless it holds "_V" exactly once.
  static std::optional<std::string> firmwareVersionNumber(const std::string& version);

 private:
  void addObservers();
  void handleMessage(const Notification& notification);
  void handleVersion(const Notification& notification);
  // x from a recogniser: the knob placed, then the slider's value handler.
  void act(SettingsSlider slider, double x);
  double depthPositionForValue(float depth) const;
  void post(Value message);
  void store(const char* key, Value value);

  GlassSettingsView& view_;
  const GlassSettingsVariant variant_;
  Environment env_;
  bool loaded_ = false;
  Subscription messages_;
  Subscription versions_;
};

}  // namespace vistrelle
