#pragma once

#include <memory>
#include <string>

namespace vistrelle::compositing {

// Whether the desktop blends translucent windows with what lies under them.
// Without a compositing manager a translucent window's clear pixels reach
// the screen as black, so a see-through overlay has to keep to what it
// actually draws.
class CompositingManager {
 public:
  virtual ~CompositingManager() = default;

  // Asked anew each time: a compositing manager may start or stop at any
  // moment.  False when the window system cannot be reached.
  virtual bool isActive() = 0;

  // X11: a compositing manager owns the selection "_NET_WM_CM_S<screen>" of
  // the default screen of `display` ($DISPLAY when empty).  Connects at first
  // use and again after a lost connection.  Null where the build has no xcb.
  static std::shared_ptr<CompositingManager> x11(std::string display = {});
  // A fixed answer, for window systems that always (Wayland) or never
  // (offscreen) composite.
  static std::shared_ptr<CompositingManager> fixed(bool active);
};

}  // namespace vistrelle::compositing
