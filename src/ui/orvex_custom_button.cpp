#include "ui/orvex_custom_button.h"

#include <QPainter>

#include "ui/image_catalog.h"

namespace vistrelle::ui {

OrvexCustomButton::OrvexCustomButton(QWidget* parent) : QPushButton(parent) {
  setFlat(true);
  setImages("jiaozhengpingmu", "jiaozhengpingmuClick");
}

void OrvexCustomButton::setImages(std::string image, std::string alternate) {
  if (image != imageKey_) {
    imageKey_ = std::move(image);
    image_ = ImageCatalog::localizedPixmap(imageKey_, devicePixelRatioF());
  }
  if (alternate != alternateImageKey_) {
    alternateImageKey_ = std::move(alternate);
    alternateImage_ = ImageCatalog::localizedPixmap(alternateImageKey_, devicePixelRatioF());
  }
  update();
}

QSize OrvexCustomButton::sizeHint() const {
  return ImageCatalog::naturalSize("jiaozhengpingmu");
}

void OrvexCustomButton::enterEvent(QEnterEvent* event) {
  if (isEnabled()) setImages("jiaozhengpingmuHover", alternateImageKey_);
  QPushButton::enterEvent(event);
}

void OrvexCustomButton::leaveEvent(QEvent* event) {
  setImages("jiaozhengpingmu", "jiaozhengpingmuClick");
  QPushButton::leaveEvent(event);
}

void OrvexCustomButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPixmap& shown = (isDown() && !alternateImage_.isNull()) ? alternateImage_ : image_;
  if (!shown.isNull()) painter.drawPixmap(rect(), shown);
}

}  // namespace vistrelle::ui
