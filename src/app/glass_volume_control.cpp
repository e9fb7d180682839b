#include "app/glass_volume_control.h"

#include <algorithm>
#include <chrono>
#include <compare>
#include <string>

#include "base/helpers/numeric_compare.h"
#include "base/settings/settings_keys.h"

namespace vistrelle {

GlassVolumeControl::GlassVolumeControl(Options options)
    : options_(std::move(options)),
      state_(options_.state ? *options_.state : MainState::shared()),
      defaults_(options_.defaults ? *options_.defaults : UserDefaults::standard()),
      center_(options_.center ? *options_.center : NotificationCenter::defaultCenter()) {
  if (!options_.clock) options_.clock = std::make_shared<dispatch::SteadyClock>();
}

SystemDefinedEvent GlassVolumeControl::handleMediaKeyLocalEvent(const SystemDefinedEvent& event) {
  handleMediaKeyEvent(event);
  return event;
}

void GlassVolumeControl::handleMediaKeyGlobalEvent(const SystemDefinedEvent& event) {
  handleMediaKeyEvent(event);
}

void GlassVolumeControl::handleMediaKeyEvent(const SystemDefinedEvent& event) {
  if (event.type != SystemDefinedEvent::kSystemDefinedType ||
      event.subtype != SystemDefinedEvent::kAuxControlButtonsSubtype) {
    return;
  }
  if (event.data1 != kSoundUp && event.data1 != kSoundDown && event.data1 != kMute) return;
  // Keys that cannot change anything change nothing: not the mute flag, and
  // not the debounce time either.
  if (!acceptsVolume()) return;
  const double now = std::chrono::duration<double, std::milli>(options_.clock->now()).count();
  if (now - state_.changeVolumeTime.load() <= kDebounceMilliseconds) return;

  int level = state_.volumeLevel.load();
  bool mute = false;
  if (event.data1 == kSoundUp) {
    level += 1;
  } else if (event.data1 == kSoundDown) {
    level -= 1;
  } else {
    mute = !state_.isSoundOff.load();
    state_.isSoundOff.store(mute);
  }
  setGlassVolume(level, mute);
  state_.changeVolumeTime.store(now);
}

bool GlassVolumeControl::acceptsVolume() const {
  if (!options_.commands || !state_.glassStatus.load()) return false;
  if (options_.commands->glassGeneration() != 1) return false;
  const std::string version = state_.glassVersion.get();
  // An unknown version ("V-1.0") would compare as recent enough.
  if (version.rfind(kFirstGenerationPrefix, 0) != 0 ||
      version.find(kUnknownVersion) != std::string::npos) {
    return false;
  }
  return base::numericCompare(version, state_.checkVolumeVersion_V1.get()) !=
         std::strong_ordering::less;
}

void GlassVolumeControl::setGlassVolume(int level, bool mute) {
  if (!acceptsVolume()) return;
  if (mute) {
    options_.commands->change_display_volume(0);
    center_.post(kVolumeChanged);
    defaults_.setBool(settings_keys::kDisplayVolumeIsSoundOff, true);
    defaults_.synchronize();
    return;
  }
  state_.isSoundOff.store(false);
  level = std::clamp(level, 0, kMaxLevel);
  state_.volumeLevel.store(level);
  options_.commands->change_display_volume(level);
  defaults_.setInteger(settings_keys::kDisplayVolumeLevel, level);
  defaults_.synchronize();
  defaults_.setBool(settings_keys::kDisplayVolumeIsSoundOff, false);
  defaults_.synchronize();
  center_.post(kVolumeChanged);
}

void GlassVolumeControl::onSystemVolume(const Notification& notification) {
  const Value& object = notification.object;
  state_.volumeValue_V2.store(object.isDouble() ? static_cast<float>(*object.asDouble()) : 0.0f);
}

}  // namespace vistrelle
