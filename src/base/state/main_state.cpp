#include "base/state/main_state.h"

namespace vistrelle {

MainState& MainState::shared() {
  static MainState state;
  return state;
}

void MainState::reset() {
  mouseClick = 0;
  glassStatus = false;
  isOpen3D = true;
  isCPUARM = false;
  modelType = 0;
  volumeLevel = 3;
  volumeValue_V2 = 0;
  manuallyChangeVolumeValue_V2 = false;
  isSoundOff = false;
  glassVersion.set("V-1.0");
  glassDisplayID = 0;
  builtinDisplayID = 0;
  glassDisplayStatus = 1;
  checkVolumeVersion_V1.set("ORVEX_FW_V1.30");
  checkVolumeVersion_V2.set("ORVEX2_FW_V0.0");
  checkVolumeVersion_V2Pro.set("ORVEX2PRO_FW_V0.0");
  dfuUpdateVersion_V2.set("ORVEX2_FW_V1.63");
  dfuUpdateVersion_V2Pro.set("ORVEX2PRO_FW_V1.49");
  isDfuUpdate = false;
  isDfuUpdateStart = false;
  isBeginUpdateDfu = false;
  privacyScreenLockButtonState = 0;
  defaultBrightness = 0;
  isCloseIMU = false;
  isExit = false;
  time = 0;
  showHomeTimerIdentification.set("");
  isOpenImmersion = true;
  isOpenAI3D = true;
  depthValue = 0.01f;
  depthMainValue = 0;
  depthMaxValue = 0.015f;
  isOverseas = false;
  depthUseHigh = false;
  isDebug = false;
  changeVolumeTime = 0;
  timerInv.set("");
  isAI3DWindowOnGlasses = false;
}

}  // namespace vistrelle
