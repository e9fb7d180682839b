#pragma once

namespace vistrelle {

// The application's single main window as the delegate drives it; the Qt
// window lives in ui/.
class AppWindow {
 public:
  virtual ~AppWindow() = default;
  // Make it key, order it front, then centre it.
  virtual void showCentered() = 0;
  virtual void bringToFront() = 0;
  virtual bool isVisible() const = 0;
};

}  // namespace vistrelle
