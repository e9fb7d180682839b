#include "platform/bus/fake/fake_bus_connector.h"

namespace vistrelle::bus {

void FakeBusConnector::setBus(BusKind kind, std::shared_ptr<Bus> bus) {
  std::lock_guard lock(mutex_);
  buses_[kind] = std::move(bus);
}

void FakeBusConnector::setNoBus(BusKind kind, std::string reason) {
  std::lock_guard lock(mutex_);
  buses_.erase(kind);
  reasons_[kind] = std::move(reason);
}

int FakeBusConnector::openCount(BusKind kind) const {
  std::lock_guard lock(mutex_);
  auto found = opens_.find(kind);
  return found == opens_.end() ? 0 : found->second;
}

BusResult<std::shared_ptr<Bus>> FakeBusConnector::open(BusKind kind) {
  std::lock_guard lock(mutex_);
  ++opens_[kind];
  if (auto found = buses_.find(kind); found != buses_.end() && found->second) return found->second;
  auto reason = reasons_.find(kind);
  return BusError::make(BusError::Code::NoBus,
                        reason != reasons_.end()
                            ? reason->second
                            : std::string("no ") + busKindName(kind) + " bus (fake)");
}

}  // namespace vistrelle::bus
