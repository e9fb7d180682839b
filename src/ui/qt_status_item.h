#pragma once

#include <QSystemTrayIcon>
#include <memory>

#include "platform/statusbar/status_item.h"

namespace vistrelle::ui {

// The status item on the desktop's system tray.  It attaches no menu: a right
// click on an X11 (XEmbed) tray, and a StatusNotifier host's ContextMenu call
// for an item that exports no menu, both arrive as Qt's context activation,
// which the application gets as Click::Right.
class QtStatusItem final : public StatusItem {
 public:
  QtStatusItem();
  ~QtStatusItem() override;

  bool isAvailable() const override;
  void setImage(const std::string& name) override;
  void setToolTip(const std::string& text) override;
  void setClickHandler(std::function<void(Click)> handler) override;
  void show() override;
  std::optional<Geometry> iconGeometry() const override;

 private:
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::function<void(Click)> clickHandler_;
};

}  // namespace vistrelle::ui
