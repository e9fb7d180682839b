#include "platform/keyboard/fake/recording_synthetic_keyboard.h"

namespace vistrelle {

bool RecordingSyntheticKeyboard::postControlArrow(ArrowKey arrow) {
  std::lock_guard lock(mutex_);
  posted_.push_back(arrow);
  return true;
}

std::vector<ArrowKey> RecordingSyntheticKeyboard::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

}  // namespace vistrelle
