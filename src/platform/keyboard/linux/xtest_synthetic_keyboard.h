#pragma once

#include <mutex>
#include <string>

#include "platform/keyboard/synthetic_keyboard.h"

namespace vistrelle {

// Keyboard input through the X server's XTest extension, as the X server's
// own keyboard would send it (every client sees it, raw input listeners
// included).  Each post opens its own short connection: key posts are rare,
// and Xlib ends the process when a connection it keeps breaks (an X server
// restarted between two posts).  Thread-safe.
class XTestSyntheticKeyboard : public SyntheticKeyboard {
 public:
  // `display` as XOpenDisplay takes it; empty: $DISPLAY.
  explicit XTestSyntheticKeyboard(std::string display = {});

  bool postControlArrow(ArrowKey arrow) override;

 private:
  const std::string displayName_;
  std::mutex mutex_;  // one post at a time, so two never interleave their keys
};

}  // namespace vistrelle
