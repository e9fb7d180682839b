#include "app/settings_change_message.h"

#include <cmath>

namespace vistrelle {

std::optional<SettingsChangeMessage> SettingsChangeMessage::read(const Value& object) {
  if (!object.isMap()) return std::nullopt;
  const auto type = object["type"].asInt();
  if (!type) return std::nullopt;
  SettingsChangeMessage message{*type, std::nullopt};
  if (*type == kDepth) {
    const auto position = object["value"].asDouble();
    // A position that is not finite would move the knob nowhere sensible.
    if (!position || !std::isfinite(*position)) return std::nullopt;
    message.position = *position;
  }
  return message;
}

Value SettingsChangeMessage::depth(double position) {
  return Value::Map{{"type", 1.0}, {"value", position}};
}

Value SettingsChangeMessage::mode(int modelType) {
  return Value::Map{{"type", 2}, {"value", modelType}};
}

Value SettingsChangeMessage::privacy(int state) {
  return Value::Map{{"type", 3}, {"value", state}};
}

}  // namespace vistrelle
