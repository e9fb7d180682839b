#pragma once

#include <cstdint>
#include <optional>

#include "platform/value/value.h"

namespace vistrelle {

// The settings-change message between the status item's popover and the
// settings panel: a dictionary as the notification's object, {"type",
// "value"}.  Type 1: the depth knob moved, "value" its position in the
// sender's own track (the depth value itself travels through the main
// state); type 2: the screen mode chosen; type 3: the privacy screen toggled.
inline constexpr const char kSettingsChangeFromPopover[] = "changeValue_NSNotification.Name";
inline constexpr const char kSettingsChangeFromPanel[] = "changeValue_NSNotification.NameSmall";

struct SettingsChangeMessage {
  static constexpr int64_t kDepth = 1;
  static constexpr int64_t kMode = 2;
  static constexpr int64_t kPrivacy = 3;

  int64_t type = 0;
  // Type 1's knob position; none for the other types.
  std::optional<double> position;

  // None for an object that is not a dictionary, has no numeric "type", or
  // is of type 1 without a finite numeric "value".
  static std::optional<SettingsChangeMessage> read(const Value& object);

  // Type 1 carries its "type" as the floating number 1.0.
  static Value depth(double position);
  static Value mode(int modelType);
  static Value privacy(int state);
};

}  // namespace vistrelle
