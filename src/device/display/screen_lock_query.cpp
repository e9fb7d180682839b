#include "device/display/screen_lock_query.h"

namespace vistrelle::device {

ScreenLockQuery::ScreenLockQuery(std::shared_ptr<LazyBus> systemBus,
                                 std::shared_ptr<LazyBus> sessionBus,
                                 std::chrono::milliseconds timeout)
    : systemBus_(std::move(systemBus)), sessionBus_(std::move(sessionBus)), timeout_(timeout) {}

bool ScreenLockQuery::isLocked() {
  std::string reason;
  if (std::shared_ptr<bus::Bus> system = systemBus_ ? systemBus_->get(&reason) : nullptr) {
    auto hint = system->readPropertyAndWait(
        {"org.freedesktop.login1", "/org/freedesktop/login1/session/auto",
         "org.freedesktop.login1.Session", "LockedHint", timeout_});
    if (hint && hint.value().asBool()) return *hint.value().asBool();
  }
  if (std::shared_ptr<bus::Bus> session = sessionBus_ ? sessionBus_->get(&reason) : nullptr) {
    auto active = session->callAndWait({"org.freedesktop.ScreenSaver",
                                        "/org/freedesktop/ScreenSaver",
                                        "org.freedesktop.ScreenSaver",
                                        "GetActive",
                                        {},
                                        timeout_});
    if (active && !active.value().empty() && active.value()[0].asBool()) {
      return *active.value()[0].asBool();
    }
  }
  return false;
}

}  // namespace vistrelle::device
