#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/screenpower/screen_power_source.h"
#include "platform/xlib/xlib_display.h"

namespace vistrelle::screenpower {

// The screens' power state from the X server's DPMS extension.  A server
// without it (Xvfb, the dummy driver, most remote servers) answers none; so
// does a server that went away, until one can be reached again.  Thread-safe.
class DpmsScreenPowerSource final : public ScreenPowerSource {
 public:
  explicit DpmsScreenPowerSource(std::string display);
  std::optional<bool> screensOn() override;

 private:
  const std::string displayName_;
  std::mutex mutex_;
  std::unique_ptr<xlib::XlibDisplay> display_;
};

}  // namespace vistrelle::screenpower
