#pragma once

namespace vistrelle {

// What the main window shows: one content at a time, swapped by the delegate
// and the connection road.
enum class WindowContent { home, glassesPanel, firmwareUpdate };

// The application's single main window as the delegate drives it; the Qt
// window lives in ui/.
class AppWindow {
 public:
  virtual ~AppWindow() = default;
  // Make it key, order it front, then centre it.
  virtual void showCentered() = 0;
  virtual void bringToFront() = 0;
  virtual bool isVisible() const = 0;
  // Swaps the content; the others stay alive, keeping their state.
  virtual void setContent(WindowContent content) = 0;
  virtual WindowContent content() const = 0;
  bool isShowingHome() const { return content() == WindowContent::home; }
};

}  // namespace vistrelle
