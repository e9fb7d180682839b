#pragma once

#include <cstdint>
#include <memory>

namespace vistrelle::dispatch {

class StopList;

// A stop registered with the runtime (Runtime::registerStop).  Dropping it
// unregisters the stop, for a subsystem that stopped itself earlier; when that
// stop is running on another thread at that moment, this waits for it to
// return.  Safe from any thread, and from inside the stop itself.
class StopRegistration {
 public:
  StopRegistration() = default;
  ~StopRegistration() { reset(); }
  StopRegistration(StopRegistration&& other) noexcept;
  StopRegistration& operator=(StopRegistration&& other) noexcept;
  StopRegistration(const StopRegistration&) = delete;
  StopRegistration& operator=(const StopRegistration&) = delete;

  // Unregisters now.
  void reset();
  // True until unregistered or run.
  bool active() const;

 private:
  friend class StopList;
  StopRegistration(std::weak_ptr<StopList> list, uint64_t id) : list_(std::move(list)), id_(id) {}

  std::weak_ptr<StopList> list_;
  uint64_t id_ = 0;
};

}  // namespace vistrelle::dispatch
