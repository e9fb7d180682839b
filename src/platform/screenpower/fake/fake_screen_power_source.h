#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/screenpower/screen_power_source.h"

namespace vistrelle::screenpower {

// Screens the test switches on and off; none plays a server without power
// management.
class FakeScreenPowerSource final : public ScreenPowerSource {
 public:
  explicit FakeScreenPowerSource(std::optional<bool> on = true) : on_(on) {}

  std::optional<bool> screensOn() override;
  void set(std::optional<bool> on);
  int queries() const { return queries_.load(); }

 private:
  mutable std::mutex mutex_;
  std::optional<bool> on_;
  std::atomic<int> queries_{0};
};

}  // namespace vistrelle::screenpower
