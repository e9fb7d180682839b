#include "ui/qt_status_item.h"

#include "ui/top_logo_icon.h"

namespace vistrelle::ui {

QtStatusItem::QtStatusItem()
    : tray_(std::make_unique<QSystemTrayIcon>()), menu_(std::make_unique<QMenu>()) {
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (!clickHandler_) return;
                     if (reason == QSystemTrayIcon::Trigger) clickHandler_(Click::Left);
                     if (reason == QSystemTrayIcon::Context) clickHandler_(Click::Right);
                   });
}

QtStatusItem::~QtStatusItem() = default;

bool QtStatusItem::isAvailable() const {
  // Asked at the moment it matters (a close of the window), never cached: a
  // tray host may come and go while the application runs.
  return tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void QtStatusItem::setImage(const std::string& name) {
  if (name == "toplogoIcon") tray_->setIcon(topLogoIcon());
}

void QtStatusItem::setToolTip(const std::string& text) {
  tray_->setToolTip(QString::fromStdString(text));
}

void QtStatusItem::setMenu(std::vector<MenuEntry> entries) {
  menu_->clear();
  for (auto& entry : entries) {
    QAction* action = menu_->addAction(QString::fromStdString(entry.title));
    QObject::connect(action, &QAction::triggered, [run = std::move(entry.action)] {
      if (run) run();
    });
  }
  tray_->setContextMenu(menu_.get());
}

void QtStatusItem::setClickHandler(std::function<void(Click)> handler) {
  clickHandler_ = std::move(handler);
}

void QtStatusItem::show() {
  // Unconditionally: Qt puts the icon into a tray that appears later (a panel
  // started after the application).
  tray_->show();
}

}  // namespace vistrelle::ui
