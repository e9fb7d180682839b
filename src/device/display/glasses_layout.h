// The layout rules for the glasses' screen, on a snapshot of the layout:
// which screens there are, which one is main, what counts as a mirror, and
// the changes that end a mirror or move the main display off the glasses.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "device/display/display_screen.h"
#include "platform/display/display_change.h"
#include "platform/display/display_layout.h"

namespace vistrelle::device {

DisplayScreen screenOf(const display::DisplayOutput& output, const display::DisplayLayout& layout);
// The active outputs, in the server's order.
std::vector<DisplayScreen> screensOf(const display::DisplayLayout& layout);

// The primary output while it is on, else the first screen; 0 with none.
uint32_t mainOutputOf(const display::DisplayLayout& layout);

// An active output showing what another shows: its CRTC drives another
// output too, or another active CRTC starts where it starts.
bool isMirrored(const display::DisplayLayout& layout, uint32_t output);

// The glasses to the right of the rightmost other screen, at y 0.  When they
// were the main display and there is a target, the target goes to 0,0 and
// becomes primary: a mirror must never end with the glasses as the main
// display, which the capture films.
display::LayoutChange unmirrorChange(const display::DisplayLayout& layout, uint32_t glasses,
                                     std::optional<uint32_t> target);

// The target at 0,0 and primary, the glasses to the right of the rightmost
// other screen, at y 0.
display::LayoutChange mainOffGlassesChange(const display::DisplayLayout& layout, uint32_t glasses,
                                           uint32_t target);

// The main display's screen apart from every screen mirroring it, each to
// the right of the ones before.
display::LayoutChange unmirrorMainChange(const display::DisplayLayout& layout, uint32_t main);

}  // namespace vistrelle::device
