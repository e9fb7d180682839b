#pragma once

#include <cstdint>

namespace vistrelle {

// What the volume keys need from the glasses command layer: which
// generation is attached, and the volume command.
class GlassVolumeCommands {
 public:
  virtual ~GlassVolumeCommands() = default;
  virtual int32_t glassGeneration() const = 0;
  // 0 on success, negative when nothing was sent.
  virtual int32_t change_display_volume(int32_t level) = 0;
};

}  // namespace vistrelle
