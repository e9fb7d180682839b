#include "app/calibration/temperature_drift_restore.h"

#include <mutex>
#include <optional>
#include <utility>

#include "app/companion/companion_bridge.h"
#include "base/helpers/language_bundle.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"

namespace vistrelle {

// Tasks posted to the main queue reach the object only while it lives.
struct TemperatureDriftRestore::Life {
  TemperatureDriftRestore* self;
};

namespace {

void tellUser(const char* text) {
  message::TransientMessage::show(base::LanguageBundle::shared().localizedStringForKey(text));
}

}  // namespace

TemperatureDriftRestore::TemperatureDriftRestore(Options options)
    : options_([&] {
        if (!options.companion) {
          options.companion = []() -> std::shared_ptr<device::CompanionLink> {
            return companionBridge();
          };
        }
        if (!options.mainQueue) options.mainQueue = dispatch::mainQueue();
        return std::move(options);
      }()),
      state_(options_.state ? *options_.state : MainState::shared()),
      life_(std::make_shared<Life>(Life{this})) {}

TemperatureDriftRestore::~TemperatureDriftRestore() {
  round_.poll.cancel();
}

void TemperatureDriftRestore::onMain(std::function<void(TemperatureDriftRestore&)> work) {
  if (options_.mainQueue->isCurrent()) {
    work(*this);
    return;
  }
  std::weak_ptr<Life> life = life_;
  options_.mainQueue->post([life, work = std::move(work)] {
    if (auto alive = life.lock()) work(*alive->self);
  });
}

void TemperatureDriftRestore::restoreDefaults() {
  onMain([](TemperatureDriftRestore& self) {
    const std::shared_ptr<TemperatureDriftCommands>& commands = self.options_.commands;
    // Record 1 is written even when record 0 failed: each is a report of its
    // own.
    bool restored = true;
    for (const int32_t index : kRestoredUserRecords) {
      const int32_t result = commands ? commands->setUserImuTempBias(index, 0, 0, 0, 0) : -1;
      restored = restored && result == 0;
    }
    tellUser(restored ? kRestoredText : kRestoreFailedText);
    self.resendBiasTables(nullptr);
  });
}

void TemperatureDriftRestore::resendBiasTables(Completion completion) {
  onMain([completion = std::move(completion)](TemperatureDriftRestore& self) mutable {
    self.startRound(std::move(completion));
  });
}

void TemperatureDriftRestore::startRound(Completion completion) {
  // One wait at a time: the running one ends here, unsent.
  if (waiting_) finish(false);

  const std::shared_ptr<TemperatureDriftCommands> commands = options_.commands;
  // The bias read exists on second-generation glasses only; elsewhere no
  // reply would ever come.
  if (!commands || !state_.glassStatus.load() || commands->glassGeneration() != 2) {
    if (completion) completion(false);
    return;
  }
  std::shared_ptr<device::CompanionLink> companion = options_.companion();
  device::BiasCollector* table = companion ? companion->biasTable() : nullptr;
  if (!table) {
    // No companion server to collect and send the table.
    tellUser(kSendFailedText);
    if (completion) completion(false);
    return;
  }

  round_ = Round{};
  round_.id = ++nextRound_;
  round_.epoch = commands->connectionEpoch();
  round_.started = options_.mainQueue->now();
  round_.companion = std::move(companion);
  round_.completion = std::move(completion);
  waiting_ = true;

  table->reset();
  for (const BiasRequest& request : kResentBiasRecords) {
    commands->getFactoryImuTempBias(request.index, request.kind);
  }
  schedulePoll();
}

void TemperatureDriftRestore::schedulePoll() {
  std::weak_ptr<Life> life = life_;
  const uint64_t id = round_.id;
  round_.poll = options_.mainQueue->postAfter(kPollInterval, [life, id] {
    if (auto alive = life.lock()) alive->self->poll(id);
  });
}

void TemperatureDriftRestore::poll(uint64_t id) {
  if (!waiting_ || id != round_.id) return;
  device::BiasCollector* table = round_.companion->biasTable();
  if (table && table->isComplete()) {
    // Built at this round's eighth reply: the records of this round only.
    if (const std::optional<Value::Map> dict = table->biasDict()) {
      round_.companion->sendTextMessageWithDict(*dict);
      finish(true);
      return;
    }
  }
  const bool timedOut = options_.mainQueue->now() - round_.started >= kWaitLimit;
  if (!table || glassesGone() || timedOut) {
    tellUser(kSendFailedText);
    finish(false);
    return;
  }
  schedulePoll();
}

bool TemperatureDriftRestore::glassesGone() const {
  // A removal and a new plug-in between two checks leave glassStatus set but
  // move the epoch: those glasses were never asked.
  return !state_.glassStatus.load() || options_.commands->connectionEpoch() != round_.epoch;
}

void TemperatureDriftRestore::finish(bool sent) {
  Round ended = std::exchange(round_, Round{});
  waiting_ = false;
  ended.poll.cancel();
  // Last: the completion may start the next round.
  if (ended.completion) ended.completion(sent);
}

namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<TemperatureDriftRestore> restore;
};

// Never destroyed: its wait may still be queued at exit.
Installed& installed() {
  static auto* slot = new Installed;
  return *slot;
}

}  // namespace

std::shared_ptr<TemperatureDriftRestore> installTemperatureDriftRestore(
    std::shared_ptr<TemperatureDriftCommands> commands) {
  Installed& slot = installed();
  std::lock_guard lock(slot.mutex);
  if (!slot.restore) {
    TemperatureDriftRestore::Options options;
    options.commands = std::move(commands);
    slot.restore = std::make_shared<TemperatureDriftRestore>(std::move(options));
  }
  return slot.restore;
}

std::shared_ptr<TemperatureDriftRestore> temperatureDriftRestore() {
  Installed& slot = installed();
  std::lock_guard lock(slot.mutex);
  return slot.restore;
}

}  // namespace vistrelle
