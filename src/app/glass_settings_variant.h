#pragma once

namespace vistrelle {

// Where the settings panel in the main window and the quick controls in the
// status item's popover differ; every other step is the same.
struct GlassSettingsVariant {
  bool isPanel = true;
  // The message this view posts, and the one it takes from the other view.
  const char* postedMessage = nullptr;
  const char* handledMessage = nullptr;
  // Knob placement: margin m = (K - placementMarginBase) / 2 around the ends,
  // where the knob's offset is -endInset at the left and W - K + endInset at
  // the right.
  double placementMarginBase = 14;
  double endInset = 7;
  // A knob position received from the other view, times this, is a position
  // on this view's track.
  double receivedPositionFactor = 1;

  // The panel's depth track is 131 pixels long, the popover's 71.
  static constexpr double kPanelDepthTrack = 131;
  static constexpr double kPopoverDepthTrack = 71;

  static GlassSettingsVariant panel();
  static GlassSettingsVariant popover();
};

}  // namespace vistrelle
