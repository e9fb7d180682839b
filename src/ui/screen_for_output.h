#pragma once

#include <QScreen>
#include <QString>
#include <string>

namespace vistrelle::ui {

// The screen Qt shows on the RandR output `outputName` ("DUMMY1", "DP-1"):
// its name() is the output's.  Null when there is none.  The glasses are
// found by their EDID name in the display layer, never through
// QScreen::model(), which mangles that name and stays empty for an EDID set
// after the screen appeared.
QScreen* screenForOutput(const QString& outputName);
QScreen* screenForOutput(const std::string& outputName);
inline QScreen* screenForOutput(const char* outputName) {
  return screenForOutput(QString::fromUtf8(outputName));
}

}  // namespace vistrelle::ui
