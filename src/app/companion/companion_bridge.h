#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/protocol/bias_collector.h"
#include "device/protocol/companion_link.h"
#include "device/protocol/immersion_store.h"
#include "netlocal/companion/orvex_local_server.h"
#include "platform/value/value.h"

namespace vistrelle {

// The glasses' side of the companion server: what the report parser hands to
// the server (the IMU id, the offset message, the glasses' event, the bias
// table) arrives here, and the server's changeImmersion reaches the command
// layer from here, so that netlocal never needs the device layer.
//
// It owns the bias table the calibration panel resets and sends (the
// server's maxBiasCount1, biasCount, biasArray and biasDict live in
// biasTable()), and keeps offsetDict and imu_id.  Every member is safe from
// any thread: the parser calls from the HID thread, the panel from the main
// queue and a global queue.
class CompanionBridge : public device::CompanionLink {
 public:
  // Installs the server's immersion handler, which forwards to `store`; the
  // store must outlive the server's use of it (the command layer lives for
  // the process).
  CompanionBridge(std::shared_ptr<netlocal::OrvexLocalServer> server,
                  device::ImmersionStore& store);
  ~CompanionBridge() override;

  // CompanionLink.
  void setImu_id(int64_t imuId) override { imu_id_.store(imuId); }
  void setOffsetDict(const Value::Map& offsetDict) override;
  void sendTextMessageWithDict(const Value::Map& message) override;
  device::BiasCollector* biasTable() override { return &biasTable_; }

  int64_t imu_id() const { return imu_id_.load(); }
  Value::Map offsetDict() const;
  // An immersion level for the glasses, to the command layer.
  void changeImmersion(int32_t value) { store_.changeImmersion(value); }

  const std::shared_ptr<netlocal::OrvexLocalServer>& server() const { return server_; }

 private:
  const std::shared_ptr<netlocal::OrvexLocalServer> server_;
  device::ImmersionStore& store_;
  device::BiasCollector biasTable_;
  std::atomic<int64_t> imu_id_{0};
  mutable std::mutex offsetMutex_;
  Value::Map offsetDict_;
};

// Creates the process' bridge over `server` (null: the shared server, which
// then starts listening) and installs it as the report parser's companion
// link; call it on the main queue before the HID monitor starts.  The bridge
// lives for the process (main's stop list stops the HID monitor first).  A
// second call changes nothing and answers the installed bridge.
std::shared_ptr<CompanionBridge> installCompanionBridge(
    device::ImmersionStore& store, std::shared_ptr<netlocal::OrvexLocalServer> server = nullptr);

// The installed bridge; null before installCompanionBridge.
std::shared_ptr<CompanionBridge> companionBridge();

}  // namespace vistrelle
