#include "platform/display/display_layout.h"

#include <algorithm>
#include <string_view>

namespace vistrelle::display {

bool DisplayOutput::builtin() const {
  if (connectorType == "Panel") return true;
  const std::string_view name(outputName);
  for (std::string_view prefix : {"eDP", "LVDS", "DSI"}) {
    if (name.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

const DisplayMode* DisplayOutput::currentMode() const {
  if (modeId == 0) return nullptr;
  auto it = std::find_if(modes.begin(), modes.end(),
                         [this](const DisplayMode& mode) { return mode.id == modeId; });
  return it == modes.end() ? nullptr : &*it;
}

const DisplayOutput* DisplayLayout::find(uint32_t outputId) const {
  auto it = std::find_if(outputs.begin(), outputs.end(),
                         [outputId](const DisplayOutput& output) { return output.id == outputId; });
  return it == outputs.end() ? nullptr : &*it;
}

const DisplayOutput* DisplayLayout::findByName(const std::string& outputName) const {
  auto it = std::find_if(outputs.begin(), outputs.end(), [&](const DisplayOutput& output) {
    return output.outputName == outputName;
  });
  return it == outputs.end() ? nullptr : &*it;
}

const DisplayCrtc* DisplayLayout::findCrtc(uint32_t crtcId) const {
  auto it = std::find_if(crtcs.begin(), crtcs.end(),
                         [crtcId](const DisplayCrtc& crtc) { return crtc.id == crtcId; });
  return it == crtcs.end() ? nullptr : &*it;
}

std::vector<const DisplayOutput*> DisplayLayout::activeOutputs() const {
  std::vector<const DisplayOutput*> active;
  for (const DisplayOutput& output : outputs) {
    if (output.active()) active.push_back(&output);
  }
  return active;
}

}  // namespace vistrelle::display
