#pragma once

#include <string>

namespace vistrelle {

// An object that timer tasks can address by selector name, for the callers
// that start a task with a target and a selector rather than a block.
class TimerTarget {
 public:
  virtual ~TimerTarget() = default;
  virtual bool respondsToSelector(const std::string& selector) const = 0;
  virtual void performSelector(const std::string& selector) = 0;
};

}  // namespace vistrelle
