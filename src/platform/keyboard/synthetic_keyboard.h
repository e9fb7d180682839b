#pragma once

#include <memory>

namespace vistrelle {

enum class ArrowKey { Up, Down, Left, Right };

// Posts keyboard input as if typed on the user's keyboard.
class SyntheticKeyboard {
 public:
  virtual ~SyntheticKeyboard() = default;

  // The left Control key held while one arrow key is pressed and released:
  // Control down, arrow down, arrow up, Control up.  False when nothing could
  // be posted (no display).
  virtual bool postControlArrow(ArrowKey arrow) = 0;

  // The X11 back-end on the display of $DISPLAY, connected at first use.
  static std::shared_ptr<SyntheticKeyboard> system();
};

}  // namespace vistrelle
