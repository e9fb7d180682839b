#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/bus/bus_connector.h"

namespace vistrelle::bus {

// Hands out the buses a test gives it; a kind without one answers NoBus, as a
// desktop without a session bus would.
class FakeBusConnector final : public BusConnector {
 public:
  void setBus(BusKind kind, std::shared_ptr<Bus> bus);
  // Forgets the bus of `kind`: open() answers NoBus with `reason`.
  void setNoBus(BusKind kind, std::string reason);
  // How often open() was asked for `kind`.
  int openCount(BusKind kind) const;

  BusResult<std::shared_ptr<Bus>> open(BusKind kind) override;

 private:
  mutable std::mutex mutex_;
  std::map<BusKind, std::shared_ptr<Bus>> buses_;
  std::map<BusKind, std::string> reasons_;
  std::map<BusKind, int> opens_;
};

}  // namespace vistrelle::bus
