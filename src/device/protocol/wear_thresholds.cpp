#include "device/protocol/wear_thresholds.h"

namespace vistrelle::device {

WearThresholds& WearThresholds::shared() {
  static WearThresholds thresholds;
  return thresholds;
}

}  // namespace vistrelle::device
