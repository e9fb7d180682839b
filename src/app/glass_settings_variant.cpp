#include "app/glass_settings_variant.h"

#include "app/settings_change_message.h"

namespace vistrelle {

GlassSettingsVariant GlassSettingsVariant::panel() {
  return {.isPanel = true,
          .postedMessage = kSettingsChangeFromPanel,
          .handledMessage = kSettingsChangeFromPopover,
          .placementMarginBase = 14,
          .endInset = 7,
          .receivedPositionFactor = 1.8450704225352113};
}

GlassSettingsVariant GlassSettingsVariant::popover() {
  return {.isPanel = false,
          .postedMessage = kSettingsChangeFromPopover,
          .handledMessage = kSettingsChangeFromPanel,
          .placementMarginBase = 16,
          .endInset = 8,
          .receivedPositionFactor = 0.5419847328244275};
}

}  // namespace vistrelle
