// GlassScreenFinder: the desktop's screens as the AI-3D manager needs them
// to find the glasses' screen, and the display set-up it re-checks while it
// searches. The application implements it over the display configuration;
// tests fake it. Calls may block for a few round trips to the display
// server: the manager makes them on the global queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::ai3d {

// One screen of the desktop, measured in device pixels (the display mode's,
// never a scaled logical size).
struct GlassScreen {
  uint32_t displayID = 0;
  std::string name;        // the monitor's own name (EDID), else the output's
  std::string outputName;  // "DUMMY1", "DP-1": how the window finds the screen
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const GlassScreen&) const = default;
};

class GlassScreenFinder {
 public:
  virtual ~GlassScreenFinder() = default;

  // In the display server's order; empty when it cannot be read.
  virtual std::vector<GlassScreen> screens() = 0;
  // Whether a screen of this name is the glasses' own.
  virtual bool isGlassesScreenName(std::string_view name) const = 0;
  // Takes the glasses out of mirroring and keeps the main display off them;
  // false when that could not be done (the caller retries).
  virtual bool cancelGlassesMirrorAndMoveMain(bool requireTwoScreens, bool moveMain) = 0;
};

// The side-by-side width of the glasses' screen.
inline constexpr int kGlassesWideWidth = 3840;

// The glasses' screen among `screens`: named as the glasses and exactly
// 3840 pixels wide; the last such one when several are.
std::optional<GlassScreen> pickGlassScreen(const std::vector<GlassScreen>& screens,
                                           const GlassScreenFinder& finder);

}  // namespace vistrelle::ai3d
