#include "ui/screen_for_output.h"

#include <QGuiApplication>

namespace vistrelle::ui {

QScreen* screenForOutput(const QString& outputName) {
  if (outputName.isEmpty()) return nullptr;
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen->name() == outputName) return screen;
  }
  return nullptr;
}

QScreen* screenForOutput(const std::string& outputName) {
  return screenForOutput(QString::fromStdString(outputName));
}

}  // namespace vistrelle::ui
