#pragma once

#include <cstdint>

#include "platform/mediakeys/media_key.h"

namespace vistrelle {

// A media key as a system-defined event: event type 14, subtype 8, and
// `data1` holding the key's number in bits 16..31, its state in bits 8..15
// (0x0A down, 0x0B up) and the repeat flag in bit 0.
struct SystemDefinedEvent {
  static constexpr int kSystemDefinedType = 14;
  static constexpr int kAuxControlButtonsSubtype = 8;
  static constexpr uint32_t kKeyDownState = 0x0A;
  static constexpr uint32_t kKeyUpState = 0x0B;

  int type = kSystemDefinedType;
  int subtype = kAuxControlButtonsSubtype;
  uint32_t data1 = 0;

  static SystemDefinedEvent fromMediaKey(const mediakeys::MediaKeyEvent& event) {
    const uint32_t code = static_cast<uint32_t>(event.key);
    const uint32_t state = event.down ? kKeyDownState : kKeyUpState;
    return {kSystemDefinedType, kAuxControlButtonsSubtype,
            (code << 16) | (state << 8) | (event.repeat ? 1u : 0u)};
  }
  bool operator==(const SystemDefinedEvent&) const = default;
};

}  // namespace vistrelle
