#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <string_view>

namespace vistrelle::ui {

// Every image the windows name ("toplogoIcon", "update-dfu-success",
// "Toggle_on", "close_hover", ...), drawn in code so that no image file has to
// travel with the program.  Each has a natural size in device-independent
// pixels; an unknown name gives a null pixmap.
class ImageCatalog {
 public:
  static QStringList names();
  static bool contains(const QString& name);
  static QSize naturalSize(const QString& name);
  // Drawn at its natural size for a screen of the given pixel ratio.
  static QPixmap pixmap(const QString& name, qreal devicePixelRatio = 1.0);
  // At 1x and 2x.
  static QIcon icon(const QString& name);
  // The image named by the in-app language's text for `key` (the calibration
  // button's "jiaozhengpingmu", "jiaozhengpingmuHover", "jiaozhengpingmuClick").
  static QPixmap localizedPixmap(std::string_view key, qreal devicePixelRatio = 1.0);
};

}  // namespace vistrelle::ui
