#include "app/builtin_brightness_dimmer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "app/display_brightness_port.h"
#include "base/log/orvex_log.h"
#include "base/settings/settings_keys.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {

// Tasks posted to the main queue reach the dimmer only while it lives (it
// dies on the main thread too).
struct BuiltinBrightnessDimmer::Life {
  BuiltinBrightnessDimmer* dimmer;
};

namespace {

float clampedLevel(float value) {
  return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
}

}  // namespace

BuiltinBrightnessDimmer::BuiltinBrightnessDimmer(Options options)
    : options_([&] {
        if (!options.port) options.port = std::make_shared<DisplayBrightnessPort>();
        if (!options.mainQueue) options.mainQueue = dispatch::mainQueue();
        if (!options.worker) options.worker = dispatch::makeSerialQueue("brightness");
        if (!options.pause) {
          options.pause = [](std::chrono::milliseconds delay) {
            std::this_thread::sleep_for(delay);
          };
        }
        if (!options.log) options.log = [](std::string_view line) { OrvexLog::logMessage(line); };
        return std::move(options);
      }()),
      state_(options_.state ? *options_.state : MainState::shared()),
      defaults_(options_.defaults ? *options_.defaults : UserDefaults::standard()),
      timer_(options_.timer ? *options_.timer : GCXTimer::shared()),
      writer_(std::make_shared<CoalescingBrightnessWriter>(options_.port, options_.worker)),
      life_(std::make_shared<Life>(Life{this})) {}

BuiltinBrightnessDimmer::~BuiltinBrightnessDimmer() {
  retry_.cancel();
  timer_.cancel(state_.timerInv.get());
}

void BuiltinBrightnessDimmer::onMain(std::function<void(BuiltinBrightnessDimmer&)> work) {
  if (options_.mainQueue->isCurrent()) {
    work(*this);
    return;
  }
  std::weak_ptr<Life> life = life_;
  options_.mainQueue->post([life, work = std::move(work)] {
    if (auto alive = life.lock()) work(*alive->dimmer);
  });
}

void BuiltinBrightnessDimmer::closeBuiltinBrightness() {
  onMain([](BuiltinBrightnessDimmer& self) {
    MainState& state = self.state_;
    if (!state.isAI3DWindowOnGlasses.load()) return;
    if (state.defaultBrightness.load() != 0) return;
    const float saved = state.builtinDisplayID.load() != 0
                            ? clampedLevel(self.options_.port->builtinDisplayBrightness())
                            : 0.0f;
    state.defaultBrightness.store(saved);
    if (saved == 0) return;
    self.defaults_.setFloat(settings_keys::kSavedBuiltinBrightness, saved);
    self.defaults_.synchronize();

    const float step = saved / kSteps;
    // The counter belongs to this fade alone.
    auto counter = std::make_shared<int>(0);
    std::weak_ptr<Life> life = self.life_;
    state.timerInv.set(self.timer_.start(
        [life, counter, saved, step] {
          if (auto alive = life.lock()) alive->dimmer->tick(counter, saved, step);
        },
        0, kTickSeconds, /*repeats=*/true, /*async=*/false));
  });
}

void BuiltinBrightnessDimmer::tick(const std::shared_ptr<int>& counter, float saved, float step) {
  if (*counter > kSteps) {
    timer_.cancel(state_.timerInv.get());
    return;
  }
  const float value =
      *counter == kSteps ? 0.0f : clampedLevel(saved - static_cast<float>(*counter) * step);
  if (state_.builtinDisplayID.load() != 0) writer_->write(value);
  *counter += 1;
}

void BuiltinBrightnessDimmer::restoreBuiltinBrightness() {
  onMain([](BuiltinBrightnessDimmer& self) {
    self.timer_.cancel(self.state_.timerInv.get());
    self.retry_.cancel();
    self.retries_ = 0;
    self.attemptRestore(++self.round_);
  });
}

void BuiltinBrightnessDimmer::attemptRestore(uint64_t round) {
  const float saved = state_.defaultBrightness.load();
  if (saved == 0) return;
  const bool hasBuiltin = state_.builtinDisplayID.load() != 0;
  std::weak_ptr<Life> life = life_;
  dispatch::ExecutorPtr main = options_.mainQueue;
  // Set and read back on the worker, behind any level still queued.
  options_.worker->post([life, main, round, saved, hasBuiltin, writer = writer_] {
    if (hasBuiltin) writer->writeNow(saved);
    const float readBack = writer->port().builtinDisplayBrightness();
    main->post([life, round, readBack] {
      if (auto alive = life.lock()) alive->dimmer->onReadBack(round, readBack);
    });
  });
}

void BuiltinBrightnessDimmer::onReadBack(uint64_t round, float readBack) {
  if (round != round_ || state_.defaultBrightness.load() == 0) return;
  if (readBack != 0) {
    forget();
    return;
  }
  // The panel has not taken it yet.
  if (retries_ >= kMaxRetries) {
    options_.log("内置屏幕亮度恢复失败");
    return;
  }
  ++retries_;
  std::weak_ptr<Life> life = life_;
  retry_ = options_.mainQueue->postAfter(kRetryDelay, [life, round] {
    if (auto alive = life.lock()) alive->dimmer->attemptRestore(round);
  });
}

void BuiltinBrightnessDimmer::forget() {
  state_.defaultBrightness.store(0);
  defaults_.removeObjectForKey(settings_keys::kSavedBuiltinBrightness);
  defaults_.synchronize();
}

bool BuiltinBrightnessDimmer::restoreBuiltinBrightnessSync(std::chrono::milliseconds limit) {
  timer_.cancel(state_.timerInv.get());
  retry_.cancel();
  ++round_;
  const float saved = state_.defaultBrightness.load();
  if (saved == 0) return true;
  const bool hasBuiltin = state_.builtinDisplayID.load() != 0;
  for (std::chrono::milliseconds waited{0};; waited += kRetryDelay) {
    if (hasBuiltin) writer_->writeNow(saved);
    if (options_.port->builtinDisplayBrightness() != 0) {
      forget();
      return true;
    }
    if (waited + kRetryDelay > limit) return false;
    options_.pause(kRetryDelay);
  }
}

void BuiltinBrightnessDimmer::restoreSavedBrightnessAtLaunch() {
  const std::optional<float> saved = defaults_.floatForKey(settings_keys::kSavedBuiltinBrightness);
  if (!saved) return;
  const float level = clampedLevel(*saved);
  const bool hasBuiltin = state_.builtinDisplayID.load() != 0;
  UserDefaults* defaults = &defaults_;
  options_.worker->post([level, hasBuiltin, defaults, writer = writer_] {
    if (hasBuiltin && level > 0 && writer->port().builtinDisplayBrightness() == 0) {
      writer->writeNow(level);
    }
    defaults->removeObjectForKey(settings_keys::kSavedBuiltinBrightness);
    defaults->synchronize();
  });
}

}  // namespace vistrelle
