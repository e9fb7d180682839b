#include "platform/display/fake/fake_display_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

#include "platform/display/crtc_plan.h"

namespace vistrelle::display {
namespace {

constexpr uint32_t kFirstOutputId = 0x40;
constexpr uint32_t kFirstCrtcId = 0x20;
constexpr uint32_t kFirstModeId = 0x100;

DisplayError lost() {
  return {DisplayError::Kind::Lost, "the display server is gone"};
}

// "1920x1080" -> its mode, one id per size.
class ModeTable {
 public:
  DisplayMode mode(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos) throw std::invalid_argument("a mode is \"WxH\": " + text);
    const DisplayMode size{0, std::stoi(text.substr(0, x)), std::stoi(text.substr(x + 1))};
    for (const DisplayMode& known : modes_) {
      if (known.width == size.width && known.height == size.height) return known;
    }
    modes_.push_back(
        {kFirstModeId + static_cast<uint32_t>(modes_.size()), size.width, size.height});
    return modes_.back();
  }

 private:
  std::vector<DisplayMode> modes_;
};

}  // namespace

struct FakeLayoutLoader {
  static void load(FakeDisplayServer* server, const nlohmann::json& json);
};

std::shared_ptr<FakeDisplayServer> FakeDisplayServer::fromJson(std::string_view text) {
  auto server = std::shared_ptr<FakeDisplayServer>(new FakeDisplayServer());
  try {
    FakeLayoutLoader::load(server.get(), nlohmann::json::parse(text));
  } catch (const std::invalid_argument&) {
    throw;
  } catch (const std::exception& error) {
    // A missing key, a wrong type, a size that is no number.
    throw std::invalid_argument(std::string("fake display layout: ") + error.what());
  }
  return server;
}

void FakeLayoutLoader::load(FakeDisplayServer* server, const nlohmann::json& json) {
  DisplayLayout& layout = server->layout_;
  ModeTable modes;
  const nlohmann::json outputs = json.value("outputs", nlohmann::json::array());
  const size_t crtcCount = json.value("crtcs", outputs.size());
  for (size_t i = 0; i < crtcCount; ++i) {
    DisplayCrtc crtc;
    crtc.id = kFirstCrtcId + static_cast<uint32_t>(i);
    layout.crtcs.push_back(crtc);
  }
  std::vector<uint32_t> allCrtcs;
  for (const DisplayCrtc& crtc : layout.crtcs) allCrtcs.push_back(crtc.id);

  size_t nextCrtc = 0;
  for (size_t i = 0; i < outputs.size(); ++i) {
    const nlohmann::json& entry = outputs[i];
    DisplayOutput output;
    output.id = kFirstOutputId + static_cast<uint32_t>(i);
    output.outputName = entry.at("name").get<std::string>();
    output.monitorName = entry.value("monitor", "");
    output.connectorType = entry.value("connector", "");
    output.connected = entry.value("connected", true);
    output.possibleCrtcs = allCrtcs;
    for (const auto& mode : entry.value("modes", nlohmann::json::array())) {
      output.modes.push_back(modes.mode(mode.get<std::string>()));
    }
    for (const auto& mode : entry.value("probedModes", nlohmann::json::array())) {
      server->probedModes_[output.id].push_back(modes.mode(mode.get<std::string>()));
    }
    if (entry.contains("mode")) {
      const DisplayMode mode = modes.mode(entry.at("mode").get<std::string>());
      if (!entry.contains("modes")) output.modes.push_back(mode);
      size_t index = entry.contains("crtc") ? entry.at("crtc").get<size_t>() : nextCrtc++;
      if (index >= layout.crtcs.size()) throw std::invalid_argument("fake layout: too few CRTCs");
      nextCrtc = std::max(nextCrtc, index + 1);
      DisplayCrtc& crtc = layout.crtcs[index];
      const auto at = entry.value("at", std::vector<int>{0, 0});
      crtc.modeId = mode.id;
      crtc.x = at.at(0);
      crtc.y = at.at(1);
      crtc.width = mode.width;
      crtc.height = mode.height;
      crtc.outputs.push_back(output.id);
      output.crtc = crtc.id;
      output.modeId = mode.id;
      output.x = crtc.x;
      output.y = crtc.y;
      output.width = crtc.width;
      output.height = crtc.height;
    }
    layout.outputs.push_back(std::move(output));
  }
  if (json.contains("primary")) {
    const DisplayOutput* primary = layout.findByName(json.at("primary").get<std::string>());
    if (primary == nullptr) throw std::invalid_argument("fake layout: unknown primary output");
    layout.primary = primary->id;
  }
  for (const DisplayCrtc& crtc : layout.crtcs) {
    if (crtc.modeId == 0) continue;
    layout.screenWidth = std::max(layout.screenWidth, crtc.x + crtc.width);
    layout.screenHeight = std::max(layout.screenHeight, crtc.y + crtc.height);
  }
}

DisplayResult<DisplayLayout> FakeDisplayServer::layout(bool probe, std::chrono::milliseconds) {
  std::lock_guard lock(mutex_);
  if (lost_) return lost();
  if (probe) {
    ++probes_;
    for (const auto& [id, listed] : probedModes_) {
      const uint32_t outputId = id;
      auto output = std::find_if(layout_.outputs.begin(), layout_.outputs.end(),
                                 [outputId](const DisplayOutput& o) { return o.id == outputId; });
      for (const DisplayMode& mode : listed) {
        if (std::find(output->modes.begin(), output->modes.end(), mode) == output->modes.end()) {
          output->modes.push_back(mode);
        }
      }
    }
    probedModes_.clear();
  }
  return layout_;
}

DisplayResult<void> FakeDisplayServer::apply(const LayoutChange& change,
                                             std::chrono::milliseconds) {
  std::lock_guard lock(mutex_);
  changes_.push_back(change);
  if (lost_) return lost();
  if (refusal_) return DisplayError{DisplayError::Kind::Refused, *refusal_};
  auto plan = planCrtcs(layout_, change);
  if (!plan) return plan.error();
  for (const CrtcConfig& config : plan.value().after) {
    auto crtc = std::find_if(layout_.crtcs.begin(), layout_.crtcs.end(),
                             [&](const DisplayCrtc& c) { return c.id == config.crtc; });
    crtc->modeId = config.mode;
    crtc->rotation = config.rotation;
    crtc->x = config.x;
    crtc->y = config.y;
    crtc->width = config.width;
    crtc->height = config.height;
    crtc->outputs = config.outputs;
    for (uint32_t id : config.outputs) {
      auto output = std::find_if(layout_.outputs.begin(), layout_.outputs.end(),
                                 [id](const DisplayOutput& o) { return o.id == id; });
      output->crtc = config.crtc;
      output->modeId = config.mode;
      output->x = config.x;
      output->y = config.y;
      output->width = config.width;
      output->height = config.height;
    }
  }
  if (change.primary != 0) layout_.primary = change.primary;
  layout_.screenWidth = plan.value().width;
  layout_.screenHeight = plan.value().height;
  return {};
}

DisplayResult<void> FakeDisplayServer::nudgePointer(std::chrono::milliseconds) {
  std::lock_guard lock(mutex_);
  if (lost_) return lost();
  ++nudges_;
  return {};
}

DisplayLayout FakeDisplayServer::current() const {
  std::lock_guard lock(mutex_);
  return layout_;
}

std::vector<LayoutChange> FakeDisplayServer::changes() const {
  std::lock_guard lock(mutex_);
  return changes_;
}

int FakeDisplayServer::probes() const {
  std::lock_guard lock(mutex_);
  return probes_;
}

int FakeDisplayServer::nudges() const {
  std::lock_guard lock(mutex_);
  return nudges_;
}

void FakeDisplayServer::refuseChanges(std::optional<std::string> reason) {
  std::lock_guard lock(mutex_);
  refusal_ = std::move(reason);
}

void FakeDisplayServer::turnOff(const std::string& outputName) {
  std::lock_guard lock(mutex_);
  for (DisplayOutput& output : layout_.outputs) {
    if (output.outputName != outputName || output.crtc == 0) continue;
    for (DisplayCrtc& crtc : layout_.crtcs) {
      std::erase(crtc.outputs, output.id);
      if (crtc.id != output.crtc || !crtc.outputs.empty()) continue;
      const uint32_t id = crtc.id;
      crtc = DisplayCrtc();
      crtc.id = id;
    }
    output.crtc = 0;
    output.modeId = 0;
    output.x = output.y = output.width = output.height = 0;
  }
}

void FakeDisplayServer::loseServer() {
  std::lock_guard lock(mutex_);
  lost_ = true;
}

}  // namespace vistrelle::display
