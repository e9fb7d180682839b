#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QApplication;

namespace vistrelle::ui {

// The panels are drawn for a light appearance whatever the desktop's theme:
// the Fusion style with this fixed palette, in the application and in tests.
QPalette lightPalette();
void applyLightPalette(QApplication& application);

// The accent colour of the panels' highlights and hover states (the
// palette's highlight).
QColor systemBlue();

// The system font at a size in pixels: the panels' point sizes are meant at
// one pixel per point.
QFont systemFont(int pixelSize, bool bold = false);

}  // namespace vistrelle::ui
