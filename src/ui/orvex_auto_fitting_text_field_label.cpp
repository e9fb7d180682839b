#include "ui/orvex_auto_fitting_text_field_label.h"

#include <QFontMetrics>
#include <algorithm>
#include <climits>

#include "platform/notify/notification_center.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {

OrvexAutoFittingTextFieldLabel::OrvexAutoFittingTextFieldLabel(int pixelSize, QWidget* parent)
    : QLabel(parent), initialPixelSize_(pixelSize) {
  setWordWrap(true);
  setFocusPolicy(Qt::ClickFocus);
  setFont(systemFont(pixelSize));
}

int OrvexAutoFittingTextFieldLabel::fittedPixelSize(const QString& text, int pixelSize,
                                                    QSize size) {
  const int height = size.height();
  const int width = std::max(1, size.width() - 50);
  const auto textHeight = [&](int px) {
    const QFontMetrics metrics(systemFont(px));
    return metrics.boundingRect(QRect(0, 0, width, INT_MAX / 4), Qt::TextWordWrap, text).height();
  };
  // A text that cannot fit at any size stops at the floor instead of
  // shrinking for ever.
  const int floor = std::min(pixelSize, kMinimumPixelSize);
  int px = pixelSize;
  while (px > floor && height < textHeight(px)) --px;
  return std::max(px - 1, floor);
}

void OrvexAutoFittingTextFieldLabel::setText(const QString& text) {
  QLabel::setText(text);
  fitFont();
}

void OrvexAutoFittingTextFieldLabel::fitFont() {
  setFont(systemFont(fittedPixelSize(text(), initialPixelSize_, size())));
}

void OrvexAutoFittingTextFieldLabel::focusInEvent(QFocusEvent* event) {
  NotificationCenter::defaultCenter().post("notificationName_TextFieldBecomeFirstResponder",
                                           Value(objectName().toStdString()));
  QLabel::focusInEvent(event);
}

}  // namespace vistrelle::ui
