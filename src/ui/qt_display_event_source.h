#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/display_reconfiguration.h"

class QScreen;

namespace vistrelle::ui {

// Display changes from Qt's screen signals, named by RandR output id: a
// screen added is an add, one removed a remove, a screen's new geometry a
// mode change, a new primary screen a main-display change.  A screen's id is
// looked up from its output name when Qt first shows it and kept, so that a
// removed screen is still named after its output has gone.  A screen whose
// output has no id is not reported.
class QtDisplayEventSource final : public QObject {
  Q_OBJECT

 public:
  using OutputId = std::function<std::optional<uint32_t>(const std::string& outputName)>;

  QtDisplayEventSource(DisplayReconfigurationCallback callback, OutputId outputId,
                       QObject* parent = nullptr);

 private:
  void watch(QScreen* screen);
  std::optional<uint32_t> idOf(QScreen* screen);
  void deliver(std::optional<uint32_t> id, uint32_t flags);

  DisplayReconfigurationCallback callback_;
  OutputId outputId_;
  std::map<QScreen*, uint32_t> ids_;
};

}  // namespace vistrelle::ui
