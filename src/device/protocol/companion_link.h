#pragma once

#include <cstdint>

#include "device/protocol/bias_collector.h"
#include "device/protocol/immersion_store.h"
#include "platform/value/value.h"

namespace vistrelle::device {

// What the glasses' report parser hands to the companion-application server.
//
// For the engineer who builds the server: derive the server from this class
// (or wrap it), override what it handles and connect it with
// GlassReport::setCompanionLink() before the HID monitor starts.  Every call
// arrives on the HID monitor's thread, one report at a time, while the main
// queue and the calibration panel's queue use the server too, so each
// override must be safe against them (hop to the main queue or lock).
//   changeImmersion(level)  the glasses changed their immersion level on
//                           their own (group 2, command 9); by default it is
//                           forwarded to the ImmersionStore given to the
//                           constructor (the command layer's
//                           changeImmersion:), as the server does.
//   setImuId(id)            IMU identifier from the version reply: 112 ('p'),
//                           67 ('C') or 0.
//   setOffsetDict(dict)     the latest IMU offset message,
//                           {"type": 9998, "value": [6 numbers]}; kept, not
//                           sent.
//   sendTextMessageWithDict the glasses' event for the companion application,
//                           always {"type": 1}; send it as one JSON line.
//   biasTable()             the collector the parser adds bias replies to;
//                           the server owns it, the calibration panel resets
//                           it and sends its biasDict().
// The other defaults do nothing (and collect into a table of their own),
// which is what the parser talks to until a server is connected.
class CompanionLink {
 public:
  explicit CompanionLink(ImmersionStore& immersion = ImmersionStore::none())
      : immersion_(immersion) {}
  virtual ~CompanionLink() = default;
  CompanionLink(const CompanionLink&) = delete;
  CompanionLink& operator=(const CompanionLink&) = delete;

  // The do-nothing link.
  static CompanionLink& none();

  virtual void changeImmersion(int32_t level) { immersion_.changeImmersion(level); }
  virtual void setImuId(int64_t /*imuId*/) {}
  virtual void setOffsetDict(const Value::Map& /*offsetDict*/) {}
  virtual void sendTextMessageWithDict(const Value::Map& /*message*/) {}
  virtual BiasCollector& biasTable() { return ownTable_; }

 private:
  ImmersionStore& immersion_;
  BiasCollector ownTable_;
};

}  // namespace vistrelle::device
