#include "ui/light_palette.h"

#include <QApplication>
#include <QStyleFactory>

namespace vistrelle::ui {

QColor systemBlue() {
  return QColor(0x00, 0x7A, 0xFF);
}

QPalette lightPalette() {
  QPalette palette;
  const QColor window(0xEC, 0xEC, 0xEC);
  const QColor text(0x1D, 0x1D, 0x1F);
  const QColor disabledText(0xA0, 0xA0, 0xA0);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(0xF5, 0xF5, 0xF5));
  palette.setColor(QPalette::ToolTipBase, Qt::white);
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::PlaceholderText, disabledText);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, QColor(0xF6, 0xF6, 0xF6));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::BrightText, Qt::white);
  palette.setColor(QPalette::Light, Qt::white);
  palette.setColor(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
  palette.setColor(QPalette::Mid, QColor(0xB8, 0xB8, 0xB8));
  palette.setColor(QPalette::Dark, QColor(0x9F, 0x9F, 0x9F));
  palette.setColor(QPalette::Shadow, QColor(0x76, 0x76, 0x76));
  palette.setColor(QPalette::Highlight, systemBlue());
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Link, systemBlue());
  palette.setColor(QPalette::LinkVisited, systemBlue().darker(120));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, disabledText);
  }
  return palette;
}

void applyLightPalette(QApplication& application) {
  application.setStyle(QStyleFactory::create("Fusion"));
  application.setPalette(lightPalette());
}

QFont systemFont(int pixelSize, bool bold) {
  QFont font = QApplication::font();
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace vistrelle::ui
