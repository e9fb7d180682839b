#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

namespace vistrelle::ui {

// The text for a key of the language table, in the in-app language.
QString localized(const char* key);

// A label's text colour, through its palette.
void setTextColour(QLabel* label, const QColor& colour);

}  // namespace vistrelle::ui
