#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "device/protocol/bias_record.h"
#include "platform/value/value.h"

namespace vistrelle::device {

// The glasses' temperature-bias table as it is collected for the companion
// application.  The report parser adds replies on the HID thread; the
// calibration panel resets it on the main thread and reads it from a global
// queue; the companion server serialises it when it sends.  Everything sits
// under one lock, and the message is built under that lock at send time.
//
// Protocol: the panel resets, requests eight records, waits until
// isComplete(), then sends biasDict().  Every reply counts, accepted or not;
// the message exists from the eighth reply after a reset on and always shows
// the records accepted so far (also those that arrive after the eighth, and
// none right after a reset, until the next round rebuilds it).
class BiasCollector {
 public:
  static constexpr int32_t maxBiasCount1 = 8;
  static constexpr int64_t kMessageType = 9997;

  BiasCollector() = default;
  BiasCollector(const BiasCollector&) = delete;
  BiasCollector& operator=(const BiasCollector&) = delete;

  // Counts one reply and appends its record when it was accepted.  Returns the
  // count before this reply (the record's index in the log line).
  int32_t addReply(const std::optional<BiasRecord>& record);
  // Empties the records and the count; a message already built stays built.
  void reset();

  int32_t biasCount() const;
  // At least maxBiasCount1 replies since the last reset.  A wait for exactly
  // eight would hang when a ninth reply slips in before the waiter looks.
  bool isComplete() const;
  std::vector<BiasRecord> biasArray() const;
  // {"type": 9997, "value": [records]}; none until a round has reached its
  // eighth reply.
  std::optional<Value::Map> biasDict() const;

 private:
  mutable std::mutex mutex_;
  std::vector<BiasRecord> records_;
  int32_t count_ = 0;
  bool dictBuilt_ = false;
};

}  // namespace vistrelle::device
