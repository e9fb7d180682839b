#pragma once

#include <mutex>
#include <vector>

#include "platform/keyboard/synthetic_keyboard.h"

namespace vistrelle {

// Records what would have been posted.
class RecordingSyntheticKeyboard : public SyntheticKeyboard {
 public:
  bool postControlArrow(ArrowKey arrow) override;
  std::vector<ArrowKey> posted() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ArrowKey> posted_;
};

}  // namespace vistrelle
