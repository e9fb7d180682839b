#include "app/glass_settings_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/app_delegate.h"
#include "app/filter_tuning.h"
#include "app/settings_change_message.h"
#include "base/helpers/language_bundle.h"
#include "base/settings/settings_keys.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {
namespace {

const char* toggleImage(int state) {
  return state == 1 ? "Toggle_on" : "Toggle_Off";
}

const char* filterPrefix(SettingsSlider slider) {
  switch (slider) {
    case SettingsSlider::alpha:
      return "alpha:";
    case SettingsSlider::eta:
      return "eta:";
    case SettingsSlider::sceneChangeThresh:
      return "sceneChangeThresh:";
    case SettingsSlider::depth:
      break;
  }
  return "";
}

double clampToTrack(double x, double trackWidth) {
  return std::max(0.0, std::min(x, trackWidth));
}

}  // namespace

GlassSettingsController::GlassSettingsController(GlassSettingsView& view,
                                                 GlassSettingsVariant variant,
                                                 Environment environment)
    : view_(view), variant_(variant), env_(std::move(environment)) {
  if (!env_.center) env_.center = &NotificationCenter::defaultCenter();
  if (!env_.formatter) env_.formatter = formatSignificantInCLocale;
  if (!env_.print) {
    env_.print = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  }
}

GlassSettingsController::~GlassSettingsController() = default;

// ---- Pure rules ----

double GlassSettingsController::knobOffset(double x, double trackWidth, double knobWidth,
                                           double marginBase, double endInset) {
  const double margin = (knobWidth - marginBase) / 2;
  const double c = clampToTrack(x, trackWidth);
  if (c <= margin) return -endInset;
  if (c >= trackWidth - margin) return trackWidth - knobWidth + endInset;
  return c - knobWidth / 2;
}

float GlassSettingsController::rawDepthValue(double x, double trackWidth, double knobWidth) {
  const double margin = (knobWidth - 14) / 2;
  const double c = clampToTrack(x, trackWidth);
  if (c <= margin) return 0;
  if (c >= trackWidth - margin) return kMaxDepth;
  return static_cast<float>(c / (trackWidth / 100) * kDepthPerHundredth);
}

float GlassSettingsController::rawFilterValue(double x, double trackWidth) {
  const double c = clampToTrack(x, trackWidth);
  if (c <= 0) return 0;
  if (c >= trackWidth) return 1;
  return static_cast<float>(c / (trackWidth / 100) * kFilterPerHundredth);
}

std::optional<std::string> GlassSettingsController::firmwareVersionNumber(
    const std::string& version) {
  const size_t first = version.find("_V");
  if (first == std::string::npos) return std::nullopt;
  if (version.find("_V", first + 2) != std::string::npos) return std::nullopt;
  const std::string rest = version.substr(first + 2);
  return rest.substr(0, rest.find('-'));
}

// ---- View load ----

void GlassSettingsController::viewDidLoad() {
  if (loaded_) return;
  loaded_ = true;
  AppDelegate& delegate = *env_.delegate;
  setSliderPosition(SettingsSlider::depth, depthPositionForValue(delegate.depthValue()));
  if (variant_.isPanel) {
    view_.setValueText(SettingsSlider::depth, shortestText(delegate.depthValue()));
    refreshFilterSliders();
  }
  refreshModeUI();
  if (variant_.isPanel) showFirmwareVersion();
  addObservers();
}

void GlassSettingsController::addObservers() {
  // Inline, so that the other view has redrawn by the time a post returns.
  messages_ = env_.center->observe(variant_.handledMessage, nullptr,
                                   [this](const Notification& n) { handleMessage(n); });
  if (variant_.isPanel) {
    dispatch::ExecutorPtr queue = env_.mainQueue ? env_.mainQueue : dispatch::mainQueue();
    versions_ = env_.center->observe(device::GlassReport::kVersionNotification, std::move(queue),
                                     [this](const Notification& n) { handleVersion(n); });
  }
}

// ---- Actions ----

void GlassSettingsController::panGestureRecognizer(SettingsSlider slider, PanState state,
                                                   double x) {
  switch (state) {
    case PanState::changed:
    case PanState::ended:
    case PanState::cancelled:
      act(slider, x);
      break;
    case PanState::began:
    case PanState::other:
      break;
  }
}

void GlassSettingsController::clickGestureRecognizer(SettingsSlider slider, double x) {
  act(slider, x);
}

void GlassSettingsController::act(SettingsSlider slider, double x) {
  // Before layout the track has no width: a value computed on it would be
  // 0/0.
  if (!(view_.trackWidth(slider) > 0) || !std::isfinite(x)) return;
  if (!variant_.isPanel && slider != SettingsSlider::depth) return;
  setSliderPosition(slider, x);
  if (slider == SettingsSlider::depth) {
    depthChanged(x);
  } else {
    filterChanged(slider, x);
  }
}

void GlassSettingsController::modelChangeClick(int tag) {
  modeChanged(tag);
}

void GlassSettingsController::privacyScreenLockButtonClick(int state) {
  privacyScreenLockClicked(state);
}

void GlassSettingsController::exitButtonClick() {
  env_.delegate->terminate();
}

// ---- Operations ----

void GlassSettingsController::setSliderPosition(SettingsSlider slider, double x) {
  if (!std::isfinite(x)) return;
  view_.setKnobOffset(slider, knobOffset(x, view_.trackWidth(slider), view_.knobWidth(slider),
                                         variant_.placementMarginBase, variant_.endInset));
}

void GlassSettingsController::depthChanged(double x) {
  const double width = view_.trackWidth(SettingsSlider::depth);
  if (!(width > 0) || !std::isfinite(x)) return;
  const double c = clampToTrack(x, width);
  const float raw = rawDepthValue(x, width, view_.knobWidth(SettingsSlider::depth));
  if (!std::isfinite(raw)) return;
  AppDelegate& delegate = *env_.delegate;
  if (const auto text = env_.formatter(raw)) {
    const float rounded = parseFloatInCLocale(*text).value_or(raw);
    delegate.setDepthValue(rounded);
    if (variant_.isPanel) view_.setValueText(SettingsSlider::depth, *text);
    if (UserDefaults* defaults = delegate.userDefaults()) {
      defaults->setFloat(settings_keys::kDepthScaleValue, rounded);
      defaults->synchronize();
    }
    env_.print("深度值: " + *text + " roundedValue = " + shortestText(rounded) +
               " value = " + shortestText(c));
  }
  post(SettingsChangeMessage::depth(c));
}

void GlassSettingsController::modeChanged(int tag) {
  AppDelegate& delegate = *env_.delegate;
  delegate.setModelType(tag);
  store(settings_keys::kScreenMode, Value(tag));
  refreshModeUI();
  post(SettingsChangeMessage::mode(delegate.modelType()));
  if (variant_.isPanel) {
    refreshFilterSliders();
  } else if (StatusPopover* popover = delegate.firstPopover()) {
    popover->close();
  }
  switch (tag) {
    case 0:
      delegate.setDepthValue(0.008f);
      break;
    case 1:
      delegate.setDepthValue(0.01f);
      break;
    case 2:
      delegate.setDepthValue(0.012f);
      break;
    default:
      break;
  }
  const double x = depthPositionForValue(delegate.depthValue());
  setSliderPosition(SettingsSlider::depth, x);
  if (UserDefaults* defaults = delegate.userDefaults()) {
    defaults->setFloat(settings_keys::kDepthScaleValue, delegate.depthValue());
    defaults->synchronize();
  }
  if (std::isfinite(x)) post(SettingsChangeMessage::depth(x));
}

void GlassSettingsController::refreshModeUI() {
  AppDelegate& delegate = *env_.delegate;
  const int mode = delegate.modelType();
  if (mode >= 0 && mode <= 2) {
    for (int i = 0; i <= 2; ++i) view_.setModeMarkHidden(i, i != mode);
  }
  if (variant_.isPanel) {
    // Before the 3D window's controller exists there are no presets to set.
    if (FilterTuning* tuning = delegate.filterTuning()) tuning->setDynamicFilterParameters();
  }
  const int state = delegate.privacyScreenLockButtonState();
  view_.setPrivacyToggle(state, toggleImage(state));
}

void GlassSettingsController::privacyScreenLockClicked(int state) {
  AppDelegate& delegate = *env_.delegate;
  if (state == 1) {
    delegate.closeBuiltinBrightness();
  } else {
    delegate.restoreBuiltinBrightness();
  }
  view_.setPrivacyToggle(state, toggleImage(state));
  delegate.setPrivacyScreenLockButtonState(state);
  store(settings_keys::kPrivacyScreenLockState, Value(state));
  post(SettingsChangeMessage::privacy(state));
}

void GlassSettingsController::filterChanged(SettingsSlider slider, double x) {
  if (slider == SettingsSlider::depth) return;
  const double width = view_.trackWidth(slider);
  if (!(width > 0) || !std::isfinite(x)) return;
  const float raw = rawFilterValue(x, width);
  const auto text = env_.formatter(raw);
  if (!text) return;
  const float rounded = parseFloatInCLocale(*text).value_or(raw);
  if (FilterTuning* tuning = env_.delegate->filterTuning()) {
    switch (slider) {
      case SettingsSlider::alpha:
        tuning->setAlpha(rounded);
        break;
      case SettingsSlider::eta:
        tuning->setEta(rounded);
        break;
      case SettingsSlider::sceneChangeThresh:
        tuning->setSceneChangeThresh(rounded);
        break;
      case SettingsSlider::depth:
        break;
    }
  }
  view_.setValueText(slider, filterPrefix(slider) + *text);
}

void GlassSettingsController::refreshFilterSliders() {
  FilterTuning* tuning = env_.delegate->filterTuning();
  if (!tuning) return;
  // The depth track's width serves all three.
  const double width = view_.trackWidth(SettingsSlider::depth);
  const std::pair<SettingsSlider, float> values[] = {
      {SettingsSlider::alpha, tuning->alpha()},
      {SettingsSlider::eta, tuning->eta()},
      {SettingsSlider::sceneChangeThresh, tuning->sceneChangeThresh()}};
  for (const auto& [slider, value] : values) {
    setSliderPosition(slider, width / 100 * (value / kFilterPerHundredth));
    view_.setValueText(slider, filterPrefix(slider) + shortestText(value));
  }
}

void GlassSettingsController::showFirmwareVersion() {
  AppDelegate& delegate = *env_.delegate;
  view_.setGlassName(delegate.glassName());
  if (const auto number = firmwareVersionNumber(delegate.glassVersion())) {
    view_.setFirmwareText(base::LanguageBundle::shared().localizedStringForKey("固件版本：V") +
                          *number);
  }
}

// ---- Messages ----

void GlassSettingsController::handleMessage(const Notification& notification) {
  const auto message = SettingsChangeMessage::read(notification.object);
  if (!message) return;
  switch (message->type) {
    case SettingsChangeMessage::kDepth:
      // Only the knob moves: the sender has stored the value.
      setSliderPosition(SettingsSlider::depth,
                        *message->position * variant_.receivedPositionFactor);
      break;
    case SettingsChangeMessage::kMode:
      refreshModeUI();
      break;
    case SettingsChangeMessage::kPrivacy: {
      const int state = env_.delegate->privacyScreenLockButtonState();
      view_.setPrivacyToggle(state, toggleImage(state));
      break;
    }
    default:
      break;
  }
}

void GlassSettingsController::handleVersion(const Notification& notification) {
  const std::string* version = notification.object.asString();
  if (!version) return;
  env_.delegate->setGlassVersion(*version);
  showFirmwareVersion();
}

// ---- Helpers ----

double GlassSettingsController::depthPositionForValue(float depth) const {
  return view_.trackWidth(SettingsSlider::depth) / 100 * (depth / kDepthPerHundredth);
}

void GlassSettingsController::post(Value message) {
  env_.center->post(variant_.postedMessage, std::move(message));
}

void GlassSettingsController::store(const char* key, Value value) {
  UserDefaults* defaults = env_.delegate->userDefaults();
  if (!defaults) return;
  defaults->setObject(key, std::move(value));
  defaults->synchronize();
}

}  // namespace vistrelle
