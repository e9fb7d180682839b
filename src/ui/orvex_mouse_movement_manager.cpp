#include "ui/orvex_mouse_movement_manager.h"

#include <QCoreApplication>
#include <QMouseEvent>

namespace vistrelle::ui {

class OrvexMouseMovementManager::Monitor final : public QObject {
 public:
  Monitor(QObject* watched, Handler onMove) : watched_(watched), onMove_(std::move(onMove)) {
    if (watched_) watched_->installEventFilter(this);
  }
  ~Monitor() override {
    if (watched_) watched_->removeEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseMove && onMove_) {
      onMove_(static_cast<QMouseEvent*>(event)->globalPosition());
    }
    return false;  // the event goes on unchanged
  }

 private:
  QPointer<QObject> watched_;
  Handler onMove_;
};

OrvexMouseMovementManager::OrvexMouseMovementManager() = default;

OrvexMouseMovementManager::~OrvexMouseMovementManager() {
  removeEventMonitor();
}

void OrvexMouseMovementManager::setEventMonitor(QObject* watched, Handler onMove) {
  removeEventMonitor();
  if (!watched) watched = QCoreApplication::instance();
  monitor_ = std::make_unique<Monitor>(watched, std::move(onMove));
}

void OrvexMouseMovementManager::removeEventMonitor() {
  monitor_.reset();
}

}  // namespace vistrelle::ui
