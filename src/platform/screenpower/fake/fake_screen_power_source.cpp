#include "platform/screenpower/fake/fake_screen_power_source.h"

namespace vistrelle::screenpower {

std::optional<bool> FakeScreenPowerSource::screensOn() {
  queries_.fetch_add(1);
  std::lock_guard lock(mutex_);
  return on_;
}

void FakeScreenPowerSource::set(std::optional<bool> on) {
  std::lock_guard lock(mutex_);
  on_ = on;
}

}  // namespace vistrelle::screenpower
