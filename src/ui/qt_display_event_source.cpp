#include "ui/qt_display_event_source.h"

#include <QGuiApplication>
#include <QScreen>

namespace vistrelle::ui {

QtDisplayEventSource::QtDisplayEventSource(DisplayReconfigurationCallback callback,
                                           OutputId outputId, QObject* parent)
    : QObject(parent), callback_(std::move(callback)), outputId_(std::move(outputId)) {
  for (QScreen* screen : QGuiApplication::screens()) watch(screen);
  connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
    watch(screen);
    deliver(idOf(screen), DisplayReconfiguration::kAdd);
  });
  connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen* screen) {
    const auto id = idOf(screen);
    ids_.erase(screen);
    deliver(id, DisplayReconfiguration::kRemove);
  });
  connect(qApp, &QGuiApplication::primaryScreenChanged, this, [this](QScreen* screen) {
    if (screen) deliver(idOf(screen), DisplayReconfiguration::kSetMain);
  });
}

void QtDisplayEventSource::watch(QScreen* screen) {
  idOf(screen);
  connect(screen, &QScreen::geometryChanged, this,
          [this, screen] { deliver(idOf(screen), DisplayReconfiguration::kSetMode); });
}

std::optional<uint32_t> QtDisplayEventSource::idOf(QScreen* screen) {
  if (const auto known = ids_.find(screen); known != ids_.end()) return known->second;
  if (!outputId_) return std::nullopt;
  const auto id = outputId_(screen->name().toStdString());
  if (id) ids_[screen] = *id;
  return id;
}

void QtDisplayEventSource::deliver(std::optional<uint32_t> id, uint32_t flags) {
  if (id && callback_) callback_(*id, flags);
}

}  // namespace vistrelle::ui
