#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/calibration/temperature_drift_commands.h"
#include "base/state/main_state.h"
#include "device/protocol/bias_collector.h"
#include "device/protocol/companion_link.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/executor.h"

namespace vistrelle {

// The calibration panel's restore road, which outlives the panel: the
// glasses' user temperature-drift records go back to zero, and the glasses'
// bias table is read again and handed to the companion 3D application as one
// {"type": 9997} message.
//
// The table is sent only once this round's replies are complete: with no
// glasses, when they go during the wait, or after kWaitLimit, nothing is sent
// and the user is told.  One wait at a time: a new round ends the running
// one (its completion gets false, nothing is sent for it).
//
// Main queue only; calls from another thread are moved there.
class TemperatureDriftRestore {
 public:
  struct BiasRequest {
    uint32_t index;
    int32_t kind;  // 1 factory table, 2 user table
  };
  // The records the companion application is sent: the factory table, whose
  // eight records are the whole of it.  The user records were just zeroed,
  // and an all-zero record is not kept, so they would only count.
  static constexpr std::array<BiasRequest, 8> kResentBiasRecords{
      {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}}};
  static_assert(kResentBiasRecords.size() == device::BiasCollector::maxBiasCount1,
                "a round is complete at maxBiasCount1 replies");

  // The user records written back to zero.
  static constexpr std::array<int32_t, 2> kRestoredUserRecords{0, 1};

  static constexpr std::chrono::milliseconds kPollInterval{500};
  static constexpr std::chrono::seconds kWaitLimit{10};

  // Texts shown through the transient-message service (localised).
  static constexpr const char* kRestoredText = "已恢复默认值";
  static constexpr const char* kRestoreFailedText = "恢复默认值失败";
  static constexpr const char* kSendFailedText = "校准数据发送失败";

  using Completion = std::function<void(bool sent)>;

  struct Options {
    // The command layer; none: no glasses can be reached.
    std::shared_ptr<TemperatureDriftCommands> commands;
    // Who collects the replies and sends the message, asked at each round;
    // default: the installed companion bridge.
    std::function<std::shared_ptr<device::CompanionLink>()> companion;
    MainState* state = nullptr;       // default: MainState::shared()
    dispatch::ExecutorPtr mainQueue;  // default: the runtime's main queue
  };

  explicit TemperatureDriftRestore(Options options);
  ~TemperatureDriftRestore();
  TemperatureDriftRestore(const TemperatureDriftRestore&) = delete;
  TemperatureDriftRestore& operator=(const TemperatureDriftRestore&) = delete;

  // Writes kRestoredUserRecords as all zero, tells the user whether both
  // writes succeeded, then resends the bias table.
  void restoreDefaults();

  // Resets the bias table, asks the glasses for kResentBiasRecords and checks
  // every kPollInterval: complete -> the table is sent and `completion` gets
  // true; the glasses gone, or kWaitLimit passed -> nothing is sent, the user
  // is told, `completion` gets false.  With no glasses, or glasses whose
  // generation has no bias read, nothing is asked or sent (false at once).
  void resendBiasTables(Completion completion);

  // A round is waiting for its replies.
  bool isWaiting() const { return waiting_; }

 private:
  struct Life;
  struct Round {
    uint64_t id = 0;
    uint64_t epoch = 0;
    dispatch::TimePoint started{};
    std::shared_ptr<device::CompanionLink> companion;
    Completion completion;
    dispatch::DelayedTask poll;
  };

  void onMain(std::function<void(TemperatureDriftRestore&)> work);
  void startRound(Completion completion);
  void schedulePoll();
  void poll(uint64_t id);
  bool glassesGone() const;
  // Ends the running round; `completion` gets `sent`.
  void finish(bool sent);

  Options options_;
  MainState& state_;
  std::shared_ptr<Life> life_;
  bool waiting_ = false;
  uint64_t nextRound_ = 0;
  Round round_;
};

// Creates the process' restore road over the command layer (call on the main
// queue once the command layer exists); a second call changes nothing and
// answers the installed one.
std::shared_ptr<TemperatureDriftRestore> installTemperatureDriftRestore(
    std::shared_ptr<TemperatureDriftCommands> commands);

// The installed restore road; null before installTemperatureDriftRestore.
std::shared_ptr<TemperatureDriftRestore> temperatureDriftRestore();

}  // namespace vistrelle
