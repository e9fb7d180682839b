#include "ui/qt_status_item.h"

#include "ui/image_catalog.h"

namespace vistrelle::ui {

QtStatusItem::QtStatusItem() : tray_(std::make_unique<QSystemTrayIcon>()) {
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
  const QIcon icon = ImageCatalog::icon(QString::fromStdString(name));
  if (!icon.isNull()) tray_->setIcon(icon);
}

void QtStatusItem::setToolTip(const std::string& text) {
  tray_->setToolTip(QString::fromStdString(text));
}

void QtStatusItem::setClickHandler(std::function<void(Click)> handler) {
  clickHandler_ = std::move(handler);
}

void QtStatusItem::show() {
  // Unconditionally: Qt puts the icon into a tray that appears later (a panel
  // started after the application).
  tray_->show();
}

std::optional<StatusItem::Geometry> QtStatusItem::iconGeometry() const {
  if (!tray_->isVisible()) return std::nullopt;
  const QRect rect = tray_->geometry();
  if (rect.isEmpty()) return std::nullopt;
  return Geometry{rect.x(), rect.y(), rect.width(), rect.height()};
}

}  // namespace vistrelle::ui
