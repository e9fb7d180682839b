#include "platform/display/crtc_plan.h"

#include <algorithm>
#include <map>
#include <string>

namespace vistrelle::display {
namespace {

CrtcConfig configOf(const DisplayCrtc& crtc) {
  return {crtc.id, crtc.modeId, crtc.rotation, crtc.x,
          crtc.y,  crtc.width,  crtc.height,   crtc.outputs};
}

bool contains(const std::vector<uint32_t>& list, uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

DisplayResult<CrtcPlan> planCrtcs(const DisplayLayout& layout, const LayoutChange& change) {
  // Every CRTC's settings as the change goes along, and the order in which
  // the changed ones were first touched.
  std::map<uint32_t, CrtcConfig> configs;
  for (const DisplayCrtc& crtc : layout.crtcs) configs[crtc.id] = configOf(crtc);
  std::vector<uint32_t> touched;
  auto touch = [&touched](uint32_t crtc) {
    if (!contains(touched, crtc)) touched.push_back(crtc);
  };

  for (const OutputPlacement& placement : change.placements) {
    const DisplayOutput* output = layout.find(placement.output);
    if (output == nullptr) {
      return DisplayError{DisplayError::Kind::Invalid,
                          "no output " + std::to_string(placement.output)};
    }
    if (!output->active() || !configs.contains(output->crtc)) {
      return DisplayError{DisplayError::Kind::Invalid, output->outputName + " is off"};
    }
    CrtcConfig& current = configs[output->crtc];
    uint32_t mode = current.mode;
    int width = current.width;
    int height = current.height;
    if (placement.mode != 0 && placement.mode != current.mode) {
      auto listed = std::find_if(output->modes.begin(), output->modes.end(),
                                 [&](const DisplayMode& m) { return m.id == placement.mode; });
      if (listed == output->modes.end()) {
        return DisplayError{DisplayError::Kind::Invalid,
                            output->outputName + " has no mode " + std::to_string(placement.mode)};
      }
      mode = listed->id;
      const bool quarter = (current.rotation & DisplayCrtc::kQuarterTurns) != 0;
      width = quarter ? listed->height : listed->width;
      height = quarter ? listed->width : listed->height;
    }

    if (current.outputs.size() > 1) {
      // A hardware mirror: the output leaves it for a CRTC of its own.
      uint32_t free = 0;
      for (uint32_t candidate : output->possibleCrtcs) {
        auto it = configs.find(candidate);
        if (it != configs.end() && it->second.mode == 0 && it->second.outputs.empty()) {
          free = candidate;
          break;
        }
      }
      if (free == 0) {
        return DisplayError{DisplayError::Kind::Refused,
                            "no free CRTC for " + output->outputName + " to leave its mirror"};
      }
      std::erase(current.outputs, output->id);
      touch(current.crtc);
      configs[free] = CrtcConfig{free,        mode,  current.rotation, placement.x,
                                 placement.y, width, height,           {output->id}};
      touch(free);
      continue;
    }
    current.mode = mode;
    current.x = placement.x;
    current.y = placement.y;
    current.width = width;
    current.height = height;
    touch(current.crtc);
  }

  CrtcPlan plan;
  for (uint32_t crtc : touched) {
    const CrtcConfig& after = configs[crtc];
    const DisplayCrtc* now = layout.findCrtc(crtc);
    CrtcConfig before;
    before.crtc = crtc;
    if (now != nullptr) before = configOf(*now);
    if (after == before) continue;
    plan.after.push_back(after);
    plan.before.push_back(before);
  }
  for (const auto& [id, config] : configs) {
    if (config.mode == 0) continue;
    plan.width = std::max(plan.width, config.x + config.width);
    plan.height = std::max(plan.height, config.y + config.height);
  }
  return plan;
}

}  // namespace vistrelle::display
