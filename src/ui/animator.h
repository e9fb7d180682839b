#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/clock.h"

namespace vistrelle::ui {

// One value (an opacity) moved linearly from `from` to `to`: it waits `delay`,
// then runs for `duration`.  Time is the main queue's clock and the steps are
// tasks posted on it (about 60 a second), so tests step it on a virtual clock.
//
// The callbacks run on the main queue: `onStart` when the delay has passed,
// `onValue` at every step (the first with `from`, the last with `to`),
// `onStop(finished)` once at the end, or with false when it is stopped early.
// A callback may destroy the animator or its owner.
class Animator {
 public:
  struct Callbacks {
    std::function<void()> onStart;
    std::function<void(double)> onValue;
    std::function<void(bool finished)> onStop;
  };

  Animator();
  ~Animator();  // stops without calling onStop
  Animator(const Animator&) = delete;
  Animator& operator=(const Animator&) = delete;

  // Starts from now, replacing any run in progress (which stops with false).
  void start(double from, double to, dispatch::Nanos duration, dispatch::Nanos delay,
             Callbacks callbacks);
  // Stops a run in progress: onStop(false), no more values.
  void stop();
  bool isRunning() const;

  // The value at `time` of a run from `begin`: `from` before it, `to` after.
  static double valueAt(double from, double to, dispatch::TimePoint begin, dispatch::Nanos duration,
                        dispatch::TimePoint time);

  static constexpr dispatch::Nanos kStep{16'666'667};

 private:
  struct Run;
  std::shared_ptr<Run> run_;
};

}  // namespace vistrelle::ui
