#pragma once

#include <cstdint>
#include <string>

namespace vistrelle::device {

// One screen of the desktop: an output driving an active CRTC.
struct DisplayScreen {
  uint32_t displayID = 0;  // the output's id, as the screen capture names displays
  std::string name;        // the monitor's own name (EDID), else the output's
  std::string outputName;  // "DUMMY1", "eDP-1": what Qt calls the screen
  int x = 0;               // its area on the desktop, in pixels
  int y = 0;
  int width = 0;
  int height = 0;
  bool builtin = false;  // the machine's own panel
  bool primary = false;  // the main display (the one the capture films)
  bool operator==(const DisplayScreen&) const = default;
};

}  // namespace vistrelle::device
