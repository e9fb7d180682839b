#pragma once

#include <xcb/xcb.h>

#include <mutex>
#include <string>

#include "platform/compositing/compositing_manager.h"

namespace vistrelle::compositing {

// Asks the X server who owns "_NET_WM_CM_S<screen>" (the EWMH selection a
// compositing manager holds while it runs) for the default screen of its
// display.  One connection of its own, opened at first use and again after it
// broke; each answer is one round trip.
class X11CompositingManager final : public CompositingManager {
 public:
  explicit X11CompositingManager(std::string display);
  ~X11CompositingManager() override;
  X11CompositingManager(const X11CompositingManager&) = delete;
  X11CompositingManager& operator=(const X11CompositingManager&) = delete;

  bool isActive() override;

 private:
  bool connect();
  void disconnect();

  const std::string display_;
  std::mutex mutex_;
  xcb_connection_t* connection_ = nullptr;
  xcb_atom_t selection_ = XCB_ATOM_NONE;
};

}  // namespace vistrelle::compositing
