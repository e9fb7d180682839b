#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vistrelle::device {

// The glasses' screen as the display layer sees it.
struct GlassesScreen {
  uint32_t displayId = 0;
  int height = 0;  // its current height in pixels
};

// What the command layer needs from the display configuration to follow a
// 3D switch with the glasses' resolution: the display layer implements it.
// Called on the main queue.
class GlassesDisplayPort {
 public:
  virtual ~GlassesDisplayPort() = default;

  // The first screen whose name is the glasses', with its current height;
  // none when the glasses' screen is not there.
  virtual std::optional<GlassesScreen> glassesScreen() = 0;
  // Switches `displayId` to the first mode `width` wide (already `width` x
  // `height`: nothing to do) and calls `completion` with the outcome, exactly
  // once.
  virtual void resolutionSwitch(uint32_t displayId, int width, int height,
                                std::function<void(bool)> completion) = 0;
};

}  // namespace vistrelle::device
