// The progress HUD's layout and the placing of its own window.

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "ui/flip_y.h"
#include "ui/hud_label.h"
#include "ui/progress_hud.h"

namespace vistrelle::ui {

namespace {

// How far the box's centre sits above the middle of a frame H high (the
// layout's offset, with y growing upward).
double offsetFor(ProgressHUDPosition position, double H) {
  switch (position) {
    case ProgressHUDPosition::top:
      return -H / 5;
    case ProgressHUDPosition::bottom:
      return H / 5;
    case ProgressHUDPosition::center:
      break;
  }
  return 0;
}

QRect widgetRect(const QRectF& rect) {
  return QRect(static_cast<int>(std::lround(rect.x())), static_cast<int>(std::lround(rect.y())),
               static_cast<int>(std::lround(std::max(0.0, rect.width()))),
               static_cast<int>(std::lround(std::max(0.0, rect.height()))));
}

QRect firstScreen() {
  const QList<QScreen*> screens = QGuiApplication::screens();
  return screens.isEmpty() ? QRect() : screens.first()->geometry();
}

}  // namespace

void ProgressHUD::relayout() {
  if (parentWidget()) layoutHUD();
  update();
}

QSize ProgressHUD::frameSize() const {
  QWidget* parent = parentWidget();
  if (!parent) return QSize(0, 0);
  // In its own window the HUD lays out over the whole first screen, even
  // where the window covers only the box.
  if (parent == ownWindow_.get()) return firstScreen().size();
  return parent->size();
}

void ProgressHUD::layoutHUD() {
  // 1. The frame: the container's bounds.
  const QSize frame = frameSize();
  resize(frame);
  if (parentWidget() != ownWindow_.get()) move(0, 0);
  const double W = frame.width();
  const double H = frame.height();
  const double maxWidth = W - 4 * margin_;

  // 2. The indicator's size; the glyph modes reserve the spinner's height.
  double iw = 0;
  double ih = 0;
  if (indicator_) {
    iw = indicator_->width();
    ih = indicator_->height();
  }
  if (mode_.isGlyph()) ih = spinnerSize_;
  const double indicatorWidth = std::min(maxWidth, iw);

  // 3.-5. The box's height.
  double total = ih;
  const bool hasIndicator = ih > 0;
  if (hasIndicator) total += padding_;
  double tw = 0;
  double th = 0;
  bool both = false;
  const QString& text = statusLabel_->text();
  if (!text.isEmpty()) {
    const QSize textSize = QFontMetrics(statusLabel_->font()).size(0, text);
    tw = textSize.width();
    th = textSize.height();
    total += th;
    both = hasIndicator && th > 0;
    if (both) total += padding_;
  }
  const double boxHeight = total + 2 * margin_;

  // 6.-7. The indicator, above the text.
  const double offset = offsetFor(position_, H);
  double y = margin_ + std::round((H - boxHeight) / 2) - offset;
  if (hasIndicator) y += padding_;
  if (both) y += th + padding_;
  if (indicator_) {
    indicator_->setGeometry(
        widgetRect(flipY(QRectF(std::round((W - indicatorWidth) / 2), y, indicatorWidth, ih), H)));
  }

  // 8.-9. The text, below it.
  if (hasIndicator) y -= 2 * padding_;
  if (both) y -= th + padding_;
  const double labelWidth = std::min(maxWidth, tw > 0 ? tw + 10 : tw);
  statusLabel_->setGeometry(
      widgetRect(flipY(QRectF(std::round((W - labelWidth) / 2), y, labelWidth, th), H)));

  // 10. The box's size, then the box and the glyph square.
  size_ = QSizeF(2 * margin_ + std::max(labelWidth, std::max(indicatorWidth, 0.0)), boxHeight);
  const QRectF box(std::round((W - size_.width()) / 2),
                   std::round((H - size_.height()) / 2) - offset, size_.width(), size_.height());
  boxRect_ = flipY(box, H);
  const double s = spinnerSize_;
  const double cx = box.x() + box.width() / 2;
  const double cy = box.y() + box.height() - 0.9 * s;
  glyphRect_ = flipY(QRectF(cx - s / 2, cy - s / 2, s, s), H);

  if (parentWidget() == ownWindow_.get()) placeOwnWindow();
}

void ProgressHUD::placeOwnWindow() {
  const QRect screen = firstScreen();
  if (screen.isEmpty()) return;
  const bool inWindow = parentWidget() == ownWindow_.get();
  const QRect box = boxRect_.toAlignedRect();
  if (compositing_) {
    // Over the whole screen; with no mask only the box takes input, so the
    // screen's clicks reach the windows under it.
    ownWindow_->setGeometry(screen);
    if (inWindow) move(0, 0);
    if (maskType_.kind() == ProgressHUDMaskType::Kind::none && !box.isEmpty()) {
      ownWindow_->setMask(QRegion(box));
    } else {
      ownWindow_->clearMask();
    }
    return;
  }
  // No compositing: clear pixels would reach the screen as black, so the
  // window is the box alone, its corners cut round.
  if (box.isEmpty()) {
    ownWindow_->setGeometry(QRect(screen.center(), QSize(1, 1)));
    ownWindow_->clearMask();
    return;
  }
  ownWindow_->setGeometry(box.translated(screen.topLeft()));
  if (inWindow) move(-box.topLeft());
  QPainterPath rounded;
  rounded.addRoundedRect(boxRect_.translated(-box.topLeft()), cornerRadius_, cornerRadius_);
  ownWindow_->setMask(QRegion(rounded.toFillPolygon().toPolygon()));
}

}  // namespace vistrelle::ui
