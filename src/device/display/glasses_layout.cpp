#include "device/display/glasses_layout.h"

#include <algorithm>

namespace vistrelle::device {
namespace {

using display::DisplayLayout;
using display::DisplayOutput;
using display::LayoutChange;

// The right edge of every active output but `except`, with `moved` (if any)
// counted at 0,0.
int rightEdgeOfOthers(const DisplayLayout& layout, uint32_t except, uint32_t moved) {
  int right = 0;
  for (const DisplayOutput* output : layout.activeOutputs()) {
    if (output->id == except) continue;
    const int x = output->id == moved ? 0 : output->x;
    right = std::max(right, x + output->width);
  }
  return right;
}

}  // namespace

DisplayScreen screenOf(const DisplayOutput& output, const DisplayLayout& layout) {
  DisplayScreen screen;
  screen.displayID = output.id;
  screen.name = output.name();
  screen.outputName = output.outputName;
  screen.x = output.x;
  screen.y = output.y;
  screen.width = output.width;
  screen.height = output.height;
  screen.builtin = output.builtin();
  screen.primary = output.id == mainOutputOf(layout);
  return screen;
}

std::vector<DisplayScreen> screensOf(const DisplayLayout& layout) {
  std::vector<DisplayScreen> screens;
  for (const DisplayOutput* output : layout.activeOutputs()) {
    screens.push_back(screenOf(*output, layout));
  }
  return screens;
}

uint32_t mainOutputOf(const DisplayLayout& layout) {
  const DisplayOutput* primary = layout.primary != 0 ? layout.find(layout.primary) : nullptr;
  if (primary != nullptr && primary->active()) return primary->id;
  const auto active = layout.activeOutputs();
  return active.empty() ? 0 : active.front()->id;
}

bool isMirrored(const DisplayLayout& layout, uint32_t outputId) {
  const DisplayOutput* output = layout.find(outputId);
  if (output == nullptr || !output->active()) return false;
  for (const DisplayOutput* other : layout.activeOutputs()) {
    if (other->id == output->id) continue;
    if (other->crtc == output->crtc) return true;
    if (other->x == output->x && other->y == output->y) return true;
  }
  return false;
}

LayoutChange unmirrorChange(const DisplayLayout& layout, uint32_t glasses,
                            std::optional<uint32_t> target) {
  LayoutChange change;
  uint32_t moved = 0;
  if (target && *target != glasses && mainOutputOf(layout) == glasses) {
    const DisplayOutput* output = layout.find(*target);
    if (output != nullptr && output->active()) {
      moved = *target;
      change.placements.push_back({*target, 0, 0, 0});
      change.primary = *target;
    }
  }
  change.placements.push_back({glasses, rightEdgeOfOthers(layout, glasses, moved), 0, 0});
  return change;
}

LayoutChange mainOffGlassesChange(const DisplayLayout& layout, uint32_t glasses, uint32_t target) {
  LayoutChange change;
  change.placements.push_back({target, 0, 0, 0});
  change.placements.push_back({glasses, rightEdgeOfOthers(layout, glasses, target), 0, 0});
  change.primary = target;
  return change;
}

LayoutChange unmirrorMainChange(const DisplayLayout& layout, uint32_t main) {
  LayoutChange change;
  const DisplayOutput* mainOutput = layout.find(main);
  if (mainOutput == nullptr) return change;
  int right = rightEdgeOfOthers(layout, 0, 0);
  for (const DisplayOutput* other : layout.activeOutputs()) {
    if (other->id == main) continue;
    const bool mirrors =
        other->crtc == mainOutput->crtc || (other->x == mainOutput->x && other->y == mainOutput->y);
    if (!mirrors) continue;
    change.placements.push_back({other->id, right, 0, 0});
    right += other->width;
  }
  return change;
}

}  // namespace vistrelle::device
