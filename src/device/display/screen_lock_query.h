#pragma once

#include <chrono>
#include <memory>

#include "device/display/lazy_bus.h"

namespace vistrelle::device {

// Whether the session's screen is locked: logind's LockedHint for this
// session on the system bus, else the screen saver's GetActive on the
// session bus; when nothing answers, unlocked.
class ScreenLockQuery {
 public:
  ScreenLockQuery(std::shared_ptr<LazyBus> systemBus, std::shared_ptr<LazyBus> sessionBus,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

  bool isLocked();

 private:
  std::shared_ptr<LazyBus> systemBus_;
  std::shared_ptr<LazyBus> sessionBus_;
  const std::chrono::milliseconds timeout_;
};

}  // namespace vistrelle::device
