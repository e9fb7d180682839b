#include "platform/screenpower/linux/dpms_screen_power_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

namespace vistrelle::screenpower {

std::shared_ptr<ScreenPowerSource> ScreenPowerSource::system(const std::string& display) {
  return std::make_shared<DpmsScreenPowerSource>(display);
}

DpmsScreenPowerSource::DpmsScreenPowerSource(std::string display)
    : displayName_(std::move(display)) {}

std::optional<bool> DpmsScreenPowerSource::screensOn() {
  std::lock_guard lock(mutex_);
  if (display_ && display_->lost()) display_.reset();
  if (!display_) {
    display_ = xlib::XlibDisplay::open(displayName_, nullptr);
    if (!display_) return std::nullopt;
  }
  Display* x = display_->get();
  int eventBase = 0;
  int errorBase = 0;
  if (!DPMSQueryExtension(x, &eventBase, &errorBase) || !DPMSCapable(x)) return std::nullopt;
  CARD16 level = DPMSModeOn;
  BOOL enabled = False;
  if (!DPMSInfo(x, &level, &enabled) || display_->lost()) return std::nullopt;
  // With power management switched off the screens never go dark.
  return !enabled || level == DPMSModeOn;
}

}  // namespace vistrelle::screenpower
