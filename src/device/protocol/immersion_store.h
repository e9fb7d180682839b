#pragma once

#include <cstdint>

namespace vistrelle::device {

// Where an immersion level the glasses report on their own is kept: the
// command layer's changeImmersion:, which stores it as the immersion setting
// (and sends it back to the glasses at the next connection).  The command
// layer implements this and installs itself with
// GlassReport::setImmersionStore() before it starts the HID monitor.
class ImmersionStore {
 public:
  virtual ~ImmersionStore() = default;
  virtual void changeImmersion(int32_t value) = 0;
};

}  // namespace vistrelle::device
