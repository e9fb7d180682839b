#pragma once

#include "app/glass_settings_controller.h"

namespace vistrelle {

// The quick controls in the status item's popover: depth, screen mode,
// privacy screen and a quit button.  Posts "changeValue_NSNotification.Name"
// and follows the panel's "changeValue_NSNotification.NameSmall".  Made once;
// the messages keep it current while the popover is closed.
class OrvexGlassConnectSuccessPopoverViewController final : public GlassSettingsController {
 public:
  OrvexGlassConnectSuccessPopoverViewController(GlassSettingsView& view, Environment environment)
      : GlassSettingsController(view, GlassSettingsVariant::popover(), std::move(environment)) {}
};

}  // namespace vistrelle
