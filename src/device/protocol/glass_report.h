#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "device/protocol/companion_link.h"
#include "device/protocol/glass_input_report.h"
#include "device/protocol/glass_report_outputs.h"
#include "device/protocol/immersion_store.h"
#include "device/protocol/wear_thresholds.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// True when no component is NaN and not all four are 0.  Also the test a bias
// record's four numbers must pass.
bool quat_is_valid(float q0, float q1, float q2, float q3);

// Decodes the glasses' input reports (IMU samples, replies, events) and hands
// the results on: to the caller's outputs, to the process-wide generation and
// first-generation quaternion, to the cached wear thresholds, to the
// companion-application link and to the notification centre.
//
// Reports are read by their delivered length, never past it: a report whose
// bytes end before the fields its length field implies is ignored (44 bytes
// for a first-generation IMU report, 42 for a second-generation one, 52 for a
// reply or event).  parseInputReport runs on one thread at a time (the HID
// monitor's); the getters may be called from any thread.
//
// The companion link and the immersion store are held by shared_ptr and
// swapped under a lock: each report takes its own references, so the objects
// it reached stay alive until it is done, and installing, replacing or
// clearing them from any thread is safe.  Who
// installs them: the companion server installs itself as the link when it
// starts (see CompanionLink); the command layer installs itself as the
// immersion store before it starts the HID monitor.  At shutdown the HID
// monitor thread is stopped first (main's stop list), so no report is parsed
// once its installers are gone.
class GlassReport {
 public:
  using LogSink = std::function<void(std::string_view)>;
  using ReadCallBack = std::function<void(float, float, float, float)>;

  static constexpr const char* kDisplayStatusNotification =
      "cn.com.qx.orvexForMac.GlassDisplayStatus";
  static constexpr const char* kVersionNotification = "get_orvex_glass_version_NSNotificationName";
  static constexpr size_t kFirstGenerationImuMinLength = 44;
  static constexpr size_t kSecondGenerationImuMinLength = 42;
  static constexpr size_t kReplyMinLength = 52;
  static constexpr size_t kVersionMaxLength = 38;
  static constexpr int64_t kOffsetMessageType = 9998;

  // An empty log sink writes to the application log; a null link is
  // CompanionLink::none().
  explicit GlassReport(NotificationCenter& center = NotificationCenter::defaultCenter(),
                       std::shared_ptr<CompanionLink> companion = nullptr,
                       WearThresholds& thresholds = WearThresholds::shared(), LogSink log = {});
  GlassReport(const GlassReport&) = delete;
  GlassReport& operator=(const GlassReport&) = delete;

  // The process' parser, whose generation and quaternion the orientation
  // getter reads.
  static GlassReport& shared();

  // Connects the companion-application server; nullptr disconnects it
  // (CompanionLink::none() again).
  void setCompanionLink(std::shared_ptr<CompanionLink> link);
  std::shared_ptr<CompanionLink> companionLink() const;
  // Where immersion changes the glasses report go (the command layer); with
  // none installed they are logged and dropped.
  void setImmersionStore(std::shared_ptr<ImmersionStore> store);
  std::shared_ptr<ImmersionStore> immersionStore() const;

  // Decodes one report from glasses of `generation` (1 or 2).
  void parseInputReport(int32_t generation, std::span<const uint8_t> report,
                        GlassReportOutputs& outputs);

  // The version text of `outputs`: its bytes read as UTF-8 (undecodable bytes
  // give the empty text), every NUL removed, upper-cased (ASCII letters).
  static std::string versionText(const GlassReportOutputs& outputs);

  // What the HID monitor does after each parse: a non-empty version text is
  // posted as the version notification (object: the text) when `generation`
  // is 1 or 2; otherwise `readCallBack`, when set, receives the quaternion
  // (zeros for reports that carry none).
  void deliverResults(int32_t generation, const GlassReportOutputs& outputs,
                      const ReadCallBack& readCallBack);
  // Fresh zero outputs, parse, deliver.
  void handleInputReport(int32_t generation, std::span<const uint8_t> report,
                         const ReadCallBack& readCallBack);

  // The generation argument of the latest parse (0 before any).
  int32_t currentGeneration() const { return generation_.load(std::memory_order_acquire); }
  // The quaternion of the latest first-generation IMU report (zeros before
  // any).
  std::array<float, 4> lastQuaternion() const;

 private:
  void parseImu(int32_t generation, const GlassInputReport& report, GlassReportOutputs& outputs);
  void parseReply(const GlassInputReport& report, GlassReportOutputs& outputs);
  void parseVersion(const GlassInputReport& report, GlassReportOutputs& outputs);
  void parseOffsets(const GlassInputReport& report);
  void parseBiasRecord(const GlassInputReport& report);
  void changeImmersion(int32_t level);
  void log(std::string_view line) const;

  NotificationCenter& center_;
  // Guards the two pointers only; nothing is called under it.
  mutable std::mutex installMutex_;
  std::shared_ptr<CompanionLink> companion_;
  std::shared_ptr<ImmersionStore> immersion_;
  WearThresholds& thresholds_;
  LogSink log_;
  std::atomic<int32_t> generation_{0};
  mutable std::mutex quaternionMutex_;
  std::array<float, 4> quaternion_{};
};

}  // namespace vistrelle::device
