#pragma once

#include <xcb/randr.h>

#include "platform/display/display_layout.h"

namespace vistrelle::display {

// A layout as RandR gave it, with what a change needs besides: the
// configuration time to quote and the screen's size limits.
struct RandrState {
  DisplayLayout layout;
  xcb_timestamp_t configTimestamp = 0;
  int minWidth = 0;
  int minHeight = 0;
  int maxWidth = 0;
  int maxHeight = 0;
};

}  // namespace vistrelle::display
