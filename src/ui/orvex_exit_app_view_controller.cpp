#include "ui/orvex_exit_app_view_controller.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "base/helpers/language_bundle.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {

OrvexExitAppViewController::OrvexExitAppViewController(std::function<void()> quit, QWidget* parent)
    : QWidget(parent), quit_(std::move(quit)) {
  setObjectName("OrvexExitAppView");
  setFixedSize(kWidth, kHeight);
  setMouseTracking(true);
  const QString title =
      QString::fromStdString(base::LanguageBundle::shared().localizedStringForKey("退出Vistrelle"));
  extiButton_ = new FlatButton(title, this);
  extiButton_->setObjectName("extiButton");
  extiButton_->setFont(systemFont(14));
  extiButton_->setCornerRadius(3);
  extiButton_->setGeometry(8, 8, kWidth - 16, kHeight - 16);
  QObject::connect(extiButton_, &QPushButton::clicked, this, [this] { exitAppClick(); });
  setHovered(false);
}

void OrvexExitAppViewController::setHovered(bool inside) {
  hovered_ = inside;
  if (inside) {
    QColor blue = systemBlue();
    blue.setAlphaF(0.6f);
    extiButton_->setBackgroundColor(blue);
    extiButton_->setTitleColor(Qt::white);
  } else {
    extiButton_->setBackgroundColor(hexColor("#e7e9e7"));
    extiButton_->setTitleColor(Qt::black);
  }
}

void OrvexExitAppViewController::updateHover(QPointF globalPosition) {
  setHovered(rect().contains(mapFromGlobal(globalPosition).toPoint()));
}

void OrvexExitAppViewController::enterEvent(QEnterEvent* event) {
  updateHover(event->globalPosition());
  QWidget::enterEvent(event);
}

void OrvexExitAppViewController::leaveEvent(QEvent* event) {
  setHovered(false);
  QWidget::leaveEvent(event);
}

void OrvexExitAppViewController::mouseMoveEvent(QMouseEvent* event) {
  // While its popup holds the pointer, moves outside the view arrive here too.
  updateHover(event->globalPosition());
  QWidget::mouseMoveEvent(event);
}

void OrvexExitAppViewController::hideEvent(QHideEvent* event) {
  // Shown again later, it starts from the pointer's next move.
  setHovered(false);
  QWidget::hideEvent(event);
}

void OrvexExitAppViewController::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), 3, 3);
  painter.fillPath(path, hexColor("#e7e9e7"));
}

void OrvexExitAppViewController::exitAppClick() {
  // The quit road runs the exit clean-up, then ends the application.
  if (quit_) quit_();
}

}  // namespace vistrelle::ui
