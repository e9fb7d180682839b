#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

namespace vistrelle::ui {

// Holds a watch on the pointer's movements over an object (the whole
// application by default) and takes it away when it goes.
class OrvexMouseMovementManager {
 public:
  using Handler = std::function<void(QPointF globalPosition)>;

  OrvexMouseMovementManager();
  ~OrvexMouseMovementManager();
  OrvexMouseMovementManager(const OrvexMouseMovementManager&) = delete;
  OrvexMouseMovementManager& operator=(const OrvexMouseMovementManager&) = delete;

  // Replaces any earlier watch.  `watched` null watches the application.
  void setEventMonitor(QObject* watched, Handler onMove);
  void removeEventMonitor();
  bool hasEventMonitor() const { return monitor_ != nullptr; }

  std::optional<QPointF> originalMouseLocation;

 private:
  class Monitor;
  std::unique_ptr<Monitor> monitor_;
};

}  // namespace vistrelle::ui
