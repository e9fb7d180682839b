#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vistrelle {

// The item the application keeps in the desktop's status area (a tray icon
// on Linux).  Backends: Qt's system tray (ui/), a fake for tests.
class StatusItem {
 public:
  enum class Click { Left, Right };
  struct MenuEntry {
    std::string title;
    std::function<void()> action;
  };

  virtual ~StatusItem() = default;

  // True while the icon is actually shown in a status area.  False where the
  // desktop has none (a bare X server), or before a tray host has appeared:
  // the home window is then the only way into the application.
  virtual bool isAvailable() const = 0;
  // The image by its resource name ("toplogoIcon").
  virtual void setImage(const std::string& name) = 0;
  virtual void setToolTip(const std::string& text) = 0;
  // The menu it opens; the entries' actions run on the main queue.
  virtual void setMenu(std::vector<MenuEntry> entries) = 0;
  virtual void setClickHandler(std::function<void(Click)> handler) = 0;
  // Shows the icon; where no status area exists yet, it appears as soon as
  // one does.
  virtual void show() = 0;
};

}  // namespace vistrelle
