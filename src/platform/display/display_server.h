// DisplayServer: the desktop's display arrangement as the display server
// keeps it (RandR on X11): read the layout, change it, and nudge the pointer.
//
//   auto layout = server->layout();
//   server->apply({.placements = {{glassesId, 1920, 0}}, .primary = builtinId});
//
// Every call is safe from any thread: one connection behind one lock.  Each
// call is bounded: it waits for the server at most `limit` (lock included)
// and then fails with Timeout; retries belong to the callers.
#pragma once

#include <chrono>

#include "platform/display/display_change.h"
#include "platform/display/display_layout.h"
#include "platform/display/display_result.h"

namespace vistrelle::display {

class DisplayServer {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{2000};

  virtual ~DisplayServer() = default;

  // The current layout without asking the drivers to probe the connectors.
  // With `probe`, the drivers probe first: slower, but a connector's mode
  // list can grow (glasses list their wide mode only after their own switch).
  virtual DisplayResult<DisplayLayout> layout(bool probe = false,
                                              std::chrono::milliseconds limit = kDefaultLimit) = 0;

  // Moves the placed outputs (each must be on) and sets their modes; an
  // output that shares its CRTC with others (a hardware mirror) is moved to a
  // free CRTC of its own.  The screen grows before the change and shrinks to
  // the outputs' bounding box after it.  Then the primary output, if given.
  virtual DisplayResult<void> apply(const LayoutChange& change,
                                    std::chrono::milliseconds limit = kDefaultLimit) = 0;

  // A synthetic pointer motion to where the pointer already is, as a real
  // mouse would send: it wakes what waits for input without moving anything.
  virtual DisplayResult<void> nudgePointer(std::chrono::milliseconds limit = kDefaultLimit) = 0;
};

}  // namespace vistrelle::display
