#pragma once

#include <cstdint>
#include <memory>

#include "device/protocol/bias_collector.h"
#include "platform/value/value.h"

namespace vistrelle::device {

// What the glasses' report parser hands to the companion-application server.
//
// For the engineer who builds the server: derive the server from this class
// (or wrap it), override what it handles and install it with
// GlassReport::setCompanionLink() when it starts; install nullptr (the
// default link again) when it stops.  Every call arrives on the HID monitor's
// thread, one report at a time, while the main queue and the calibration
// panel's queue use the server too, so each override must be safe against
// them (hop to the main queue or lock).
//   setImu_id(id)            IMU identifier from the version reply: 112 ('p'),
//                           67 ('C') or 0.
//   setOffsetDict(dict)     the latest IMU offset message,
//                           {"type": 9998, "value": [6 numbers]}; kept, not
//                           sent.
//   sendTextMessageWithDict the glasses' event for the companion application,
//                           always {"type": 1}; send it as one JSON line.
//   biasTable()             the collector the parser adds bias replies to;
//                           the server owns it, the calibration panel resets
//                           it and sends its biasDict().
// Immersion changes the glasses report do not pass through here: the server
// would only hand them on to the command layer, which the parser reaches
// itself (GlassReport::setImmersionStore).
//
// Lifetime: the parser holds the installed link by shared_ptr and takes its
// own reference for each report, so replacing the link while the HID thread
// parses is safe and the old link lives until that report is done (its last
// reference may then go on the HID thread).
class CompanionLink {
 public:
  CompanionLink() = default;
  virtual ~CompanionLink() = default;
  CompanionLink(const CompanionLink&) = delete;
  CompanionLink& operator=(const CompanionLink&) = delete;

  // The link while no server is connected: it keeps nothing (no bias table,
  // no offsets) and sends nothing.  One instance for the whole process, never
  // destroyed.
  static std::shared_ptr<CompanionLink> none();

  virtual void setImu_id(int64_t /*imuId*/) {}
  virtual void setOffsetDict(const Value::Map& /*offsetDict*/) {}
  virtual void sendTextMessageWithDict(const Value::Map& /*message*/) {}
  // Null: bias replies are counted nowhere.
  virtual BiasCollector* biasTable() { return nullptr; }
};

}  // namespace vistrelle::device
