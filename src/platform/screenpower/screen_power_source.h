#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vistrelle::screenpower {

// Whether the screens are lit.  X11 tells no one when its screens go dark,
// so callers ask now and then.
class ScreenPowerSource {
 public:
  virtual ~ScreenPowerSource() = default;

  // True while the screens are on, false while the display server has them
  // in standby, suspend or off; none when it cannot say (no server, no power
  // management).  May block for a round trip to the server: call it off the
  // main thread.
  virtual std::optional<bool> screensOn() = 0;

  // The X11 back-end (DPMS) on `display` ($DISPLAY when empty), connected at
  // first use and again after the connection was lost.
  static std::shared_ptr<ScreenPowerSource> system(const std::string& display = {});
};

}  // namespace vistrelle::screenpower
