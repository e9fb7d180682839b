// FakeDisplayServer: a display layout in memory for the callers' tests, made
// from a small JSON text, changed the way a RandR server would change it.
//
//   auto server = FakeDisplayServer::fromJson(R"({
//     "primary": "eDP-1",
//     "outputs": [
//       {"name": "eDP-1", "connector": "Panel", "modes": ["1920x1080"], "mode": "1920x1080"},
//       {"name": "DP-1", "monitor": "ORVEX Glass", "modes": ["1920x1080"],
//        "probedModes": ["3840x1080"], "mode": "1920x1080", "at": [0, 0]}
//     ]})");
//
// Outputs: "name" (required), "monitor" (the EDID's name), "connector" (the
// ConnectorType), "connected" (default true), "modes" (listed now, in
// order; absent: the current mode alone), "probedModes" (listed once a probe
// ran), "mode" (on with that mode; absent: off), "at" [x, y] (default [0, 0]), "crtc" (an index:
// outputs naming the same one share it, a hardware mirror).  Top level: "primary" (an output name),
// "crtcs" (how many; default one per output).  Ids: outputs 0x40 + index, CRTCs 0x20 + index, modes
// 0x100 + the order in which each size first appears.  A text it cannot read throws
// std::invalid_argument.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/display/display_server.h"

namespace vistrelle::display {

class FakeDisplayServer final : public DisplayServer {
 public:
  static std::shared_ptr<FakeDisplayServer> fromJson(std::string_view json);

  DisplayResult<DisplayLayout> layout(bool probe, std::chrono::milliseconds limit) override;
  DisplayResult<void> apply(const LayoutChange& change, std::chrono::milliseconds limit) override;
  DisplayResult<void> nudgePointer(std::chrono::milliseconds limit) override;

  // The layout as it stands, whatever the knobs below say.
  DisplayLayout current() const;
  // Every change asked for (refused ones too), in order.
  std::vector<LayoutChange> changes() const;
  int probes() const;
  int nudges() const;

  // Changes answer Refused with this reason (none: accepted again).
  void refuseChanges(std::optional<std::string> reason);
  // The output stops driving its CRTC, as a closed lid would make it.
  void turnOff(const std::string& outputName);
  // Every call answers Lost, as after the server went away.
  void loseServer();

 private:
  friend struct FakeLayoutLoader;
  FakeDisplayServer() = default;

  mutable std::mutex mutex_;
  DisplayLayout layout_;
  std::map<uint32_t, std::vector<DisplayMode>> probedModes_;  // by output
  std::vector<LayoutChange> changes_;
  std::optional<std::string> refusal_;
  bool lost_ = false;
  int probes_ = 0;
  int nudges_ = 0;
};

}  // namespace vistrelle::display
