#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/brightness_control.h"
#include "app/brightness_port.h"
#include "app/coalescing_brightness_writer.h"
#include "base/state/main_state.h"
#include "base/timer/gcx_timer.h"
#include "platform/dispatch/executor.h"
#include "platform/settings/user_defaults.h"

namespace vistrelle {

// The privacy screen's dimming: the built-in panel fades from its brightness
// to exactly 0 in 251 steps, one per millisecond tick of a timer task, and
// the kept brightness comes back on restore.  The kept brightness lives in
// MainState's defaultBrightness (0: nothing kept) and, until it is restored,
// in the settings, so that a session that ends dark is repaired at the next
// start.
//
// Ticks, restores and their retries run on the main queue (calls from other
// threads are moved there); brightness writes go through a coalescing
// worker, read-backs run on that worker too.
class BuiltinBrightnessDimmer final : public BrightnessControl {
 public:
  static constexpr int kSteps = 250;
  static constexpr double kTickSeconds = 0.001;
  static constexpr std::chrono::milliseconds kRetryDelay{150};
  // Restores after a zero read-back, at most; then the panel is left as it is.
  static constexpr int kMaxRetries = 20;

  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<BrightnessPort> port;  // default: the display layer
    GCXTimer* timer = nullptr;             // default: GCXTimer::shared()
    dispatch::ExecutorPtr mainQueue;       // default: the runtime's main queue
    dispatch::ExecutorPtr worker;          // serial; default: a queue of its own
    MainState* state = nullptr;            // default: MainState::shared()
    UserDefaults* defaults = nullptr;      // default: UserDefaults::standard()
    // The exit restore's pause between tries; default: the thread sleeps.
    std::function<void(std::chrono::milliseconds)> pause;
    LogSink log;  // a restore given up; default: the text log
  };

  explicit BuiltinBrightnessDimmer(Options options);
  ~BuiltinBrightnessDimmer() override;

  // Only while the 3D window stands on the glasses (dimming before would
  // leave the user with no picture at all), only with a built-in panel that
  // is lit, and only when nothing is kept yet.
  void closeBuiltinBrightness() override;
  // Ends a running fade and sets the kept brightness; when the panel then
  // reads 0 it tries again 0.15 s later, kMaxRetries times at most.
  void restoreBuiltinBrightness() override;

  // For the exit: the same, on the calling thread, retrying within `limit`.
  // True when nothing was kept or the panel reads the kept brightness back.
  bool restoreBuiltinBrightnessSync(std::chrono::milliseconds limit);
  // For the launch, once builtinDisplayID is known: a brightness kept by an
  // earlier session is set again when the panel still reads 0.
  void restoreSavedBrightnessAtLaunch();

 private:
  struct Life;

  void onMain(std::function<void(BuiltinBrightnessDimmer&)> work);
  void tick(const std::shared_ptr<int>& counter, float saved, float step);
  void attemptRestore(uint64_t round);
  void onReadBack(uint64_t round, float readBack);
  void forget();

  Options options_;
  MainState& state_;
  UserDefaults& defaults_;
  GCXTimer& timer_;
  // Shared with the worker's tasks, which may outlive the dimmer.
  std::shared_ptr<CoalescingBrightnessWriter> writer_;

  // Main queue only.
  uint64_t round_ = 0;  // moves at each restore: older read-backs are ignored
  int retries_ = 0;
  dispatch::DelayedTask retry_;
  std::shared_ptr<Life> life_;
};

}  // namespace vistrelle
