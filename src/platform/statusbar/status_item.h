#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vistrelle {

// The item the application keeps in the desktop's status area (a tray icon
// on Linux).  Backends: Qt's system tray (ui/), a fake for tests.  It opens
// no menu of its own: clicks reach the application, which shows its popover.
class StatusItem {
 public:
  enum class Click { Left, Right };
  // Where the icon sits on the screen, in desktop pixels (y down).
  struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Geometry&) const = default;
  };

  virtual ~StatusItem() = default;

  // True while the icon is actually shown in a status area.  False where the
  // desktop has none (a bare X server), or before a tray host has appeared:
  // the home window is then the only way into the application.
  virtual bool isAvailable() const = 0;
  // The image by its resource name ("toplogoIcon").
  virtual void setImage(const std::string& name) = 0;
  virtual void setToolTip(const std::string& text) = 0;
  // Left click (activation) and right click (the context request, which a
  // tray host may also send as a call).
  virtual void setClickHandler(std::function<void(Click)> handler) = 0;
  // Shows the icon; where no status area exists yet, it appears as soon as
  // one does.
  virtual void show() = 0;
  // The icon's place on the screen, where the tray host tells it; none where
  // it does not (StatusNotifier hosts) or while the icon is not shown.
  virtual std::optional<Geometry> iconGeometry() const = 0;
};

}  // namespace vistrelle
