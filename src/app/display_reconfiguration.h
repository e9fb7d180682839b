#pragma once

#include <cstdint>
#include <functional>

namespace vistrelle {

// A change of the desktop's displays as the home view hears of it: the
// display's id (its RandR output id) and what happened to it.
struct DisplayReconfiguration {
  static constexpr uint32_t kSetMain = 4;  // it became the main display
  static constexpr uint32_t kSetMode = 8;  // its mode or place changed
  static constexpr uint32_t kAdd = 16;     // it appeared
  static constexpr uint32_t kRemove = 32;  // it went away
};

using DisplayReconfigurationCallback = std::function<void(uint32_t displayId, uint32_t flags)>;

}  // namespace vistrelle
