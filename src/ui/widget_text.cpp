#include "ui/widget_text.h"

#include <QPalette>

#include "base/helpers/language_bundle.h"

namespace vistrelle::ui {

QString localized(const char* key) {
  return QString::fromStdString(base::LanguageBundle::shared().localizedStringForKey(key));
}

void setTextColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

}  // namespace vistrelle::ui
