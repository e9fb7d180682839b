#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "app/brightness_port.h"
#include "platform/dispatch/executor.h"

namespace vistrelle {

// Brightness writes off the calling thread: a dimming ramp asks for a level
// every millisecond, and one write may take a bus round trip.  Levels asked
// for while a write is under way collapse into the latest, so the panel
// always ends at the last level asked for, however slow the writes are.
class CoalescingBrightnessWriter {
 public:
  // `worker` must be serial.
  CoalescingBrightnessWriter(std::shared_ptr<BrightnessPort> port, dispatch::ExecutorPtr worker);

  // Queues `value`; it replaces a queued one not yet written.
  void write(float value);
  // Writes `value` on the calling thread now; a queued or older level still
  // under way never lands after it.
  void writeNow(float value);

  BrightnessPort& port() const { return *shared_->port; }
  const dispatch::ExecutorPtr& worker() const { return worker_; }

 private:
  struct Shared {
    std::shared_ptr<BrightnessPort> port;
    std::mutex mutex;
    std::optional<std::pair<uint64_t, float>> pending;
    uint64_t nextSequence = 0;
    bool scheduled = false;
    std::mutex writeMutex;  // one write at a time, in order
    uint64_t written = 0;   // sequence of the last level written
  };
  static void drain(const std::shared_ptr<Shared>& shared);
  static void writeOne(Shared& shared, uint64_t sequence, float value);

  std::shared_ptr<Shared> shared_;
  dispatch::ExecutorPtr worker_;
};

}  // namespace vistrelle
