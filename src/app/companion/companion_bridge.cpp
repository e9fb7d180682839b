#include "app/companion/companion_bridge.h"

#include "device/protocol/glass_report.h"

namespace vistrelle {

CompanionBridge::CompanionBridge(std::shared_ptr<netlocal::OrvexLocalServer> server,
                                 device::ImmersionStore& store)
    : server_(std::move(server)), store_(store) {
  server_->setChangeImmersionHandler([&store](int32_t value) { store.changeImmersion(value); });
}

CompanionBridge::~CompanionBridge() {
  server_->setChangeImmersionHandler(nullptr);
}

void CompanionBridge::setOffsetDict(const Value::Map& offsetDict) {
  std::lock_guard lock(offsetMutex_);
  offsetDict_ = offsetDict;
}

Value::Map CompanionBridge::offsetDict() const {
  std::lock_guard lock(offsetMutex_);
  return offsetDict_;
}

void CompanionBridge::sendTextMessageWithDict(const Value::Map& message) {
  server_->sendTextMessageWithDict(message);
}

namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<CompanionBridge> bridge;
};

// Never destroyed: the HID thread may still hold the link at exit.
Installed& installed() {
  static auto* slot = new Installed;
  return *slot;
}

}  // namespace

std::shared_ptr<CompanionBridge> installCompanionBridge(
    device::ImmersionStore& store, std::shared_ptr<netlocal::OrvexLocalServer> server) {
  Installed& slot = installed();
  std::lock_guard lock(slot.mutex);
  if (slot.bridge) return slot.bridge;
  if (!server) server = netlocal::OrvexLocalServer::shareManager();
  slot.bridge = std::make_shared<CompanionBridge>(std::move(server), store);
  device::GlassReport::shared().setCompanionLink(slot.bridge);
  return slot.bridge;
}

std::shared_ptr<CompanionBridge> companionBridge() {
  Installed& slot = installed();
  std::lock_guard lock(slot.mutex);
  return slot.bridge;
}

}  // namespace vistrelle
