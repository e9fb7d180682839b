#pragma once

#include <QWidget>

namespace vistrelle::ui {

// A plain top-level window kept for the privacy overlay; nothing creates one.
class PrivacyOverlayWindow : public QWidget {
  Q_OBJECT

 public:
  explicit PrivacyOverlayWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Window)
      : QWidget(parent, flags) {}
};

}  // namespace vistrelle::ui
