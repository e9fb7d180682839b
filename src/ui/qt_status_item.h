#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <memory>

#include "platform/statusbar/status_item.h"

namespace vistrelle::ui {

// The status item on the desktop's system tray.
class QtStatusItem final : public StatusItem {
 public:
  QtStatusItem();
  ~QtStatusItem() override;

  bool isAvailable() const override;
  void setImage(const std::string& name) override;
  void setToolTip(const std::string& text) override;
  void setMenu(std::vector<MenuEntry> entries) override;
  void setClickHandler(std::function<void(Click)> handler) override;
  void show() override;

 private:
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> menu_;
  std::function<void(Click)> clickHandler_;
};

}  // namespace vistrelle::ui
