#pragma once

#include "app/glass_settings_controller.h"

namespace vistrelle {

// The glasses settings panel, the main window's content while the 3D window
// shows on the glasses: name, firmware text, depth, screen mode, privacy
// screen and the hidden filter sliders.  Posts
// "changeValue_NSNotification.NameSmall" and follows the popover's
// "changeValue_NSNotification.Name".
class OrvexGlassConnectSuccessViewController final : public GlassSettingsController {
 public:
  OrvexGlassConnectSuccessViewController(GlassSettingsView& view, Environment environment)
      : GlassSettingsController(view, GlassSettingsVariant::panel(), std::move(environment)) {}
};

}  // namespace vistrelle
