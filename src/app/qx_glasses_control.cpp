#include "app/qx_glasses_control.h"

namespace vistrelle {

int32_t QxGlassesControl::switchDisplay3D(bool on) {
  if (!on && state_.isExit.load()) return 0;
  if (!qxServer_.refreshConnectedDevice()) return -1;
  return qxServer_.change_display_3d(on);
}

}  // namespace vistrelle
