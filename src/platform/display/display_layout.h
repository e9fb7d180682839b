// The displays as the display server arranges them: outputs (the connectors,
// each a display id), the CRTCs that scan parts of the screen out to them,
// and the primary output.  A plain snapshot: reading one never changes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vistrelle::display {

struct DisplayMode {
  uint32_t id = 0;
  int width = 0;
  int height = 0;
  bool operator==(const DisplayMode&) const = default;
};

struct DisplayOutput {
  uint32_t id = 0;            // the output's id (an X resource id): the display id
  std::string outputName;     // the connector's name: "DUMMY1", "eDP-1"
  std::string monitorName;    // the monitor's own name from its EDID; empty when none
  std::string connectorType;  // the driver's ConnectorType ("Panel", "HDMI"); empty when absent
  bool connected = false;     // as the server reads it (a mode-set output may read disconnected)
  uint32_t crtc = 0;          // the CRTC driving it; 0 when it is off
  uint32_t modeId = 0;        // that CRTC's mode; 0 when off
  int x = 0;                  // the CRTC's area on the screen
  int y = 0;
  int width = 0;
  int height = 0;
  std::vector<DisplayMode> modes;  // in the order the server lists them
  std::vector<uint32_t> possibleCrtcs;

  // Drives an active CRTC: a screen of the desktop.
  bool active() const { return crtc != 0 && modeId != 0; }
  // The name the desktop shows for it: the monitor's, else the connector's.
  const std::string& name() const { return monitorName.empty() ? outputName : monitorName; }
  // The machine's own panel: ConnectorType "Panel", or a connector that only
  // laptops have (eDP, LVDS, DSI) where the driver reports no type.
  bool builtin() const;
  const DisplayMode* currentMode() const;
};

struct DisplayCrtc {
  // RandR's rotation bits: 1 none, 2 a quarter turn, 4 half, 8 three quarters.
  static constexpr uint16_t kRotate0 = 1;
  static constexpr uint16_t kQuarterTurns = 2 | 8;

  uint32_t id = 0;
  uint32_t modeId = 0;  // 0: off
  uint16_t rotation = kRotate0;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  std::vector<uint32_t> outputs;
};

struct DisplayLayout {
  std::vector<DisplayOutput> outputs;  // every output, in the server's order
  std::vector<DisplayCrtc> crtcs;
  uint32_t primary = 0;  // 0: none set
  int screenWidth = 0;
  int screenHeight = 0;

  const DisplayOutput* find(uint32_t outputId) const;
  const DisplayOutput* findByName(const std::string& outputName) const;
  const DisplayCrtc* findCrtc(uint32_t crtcId) const;
  // Outputs driving an active CRTC, in the server's order.
  std::vector<const DisplayOutput*> activeOutputs() const;
};

}  // namespace vistrelle::display
