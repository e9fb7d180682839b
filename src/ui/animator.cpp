#include "ui/animator.h"

#include <algorithm>

#include "platform/dispatch/runtime.h"

namespace vistrelle::ui {

struct Animator::Run {
  double from = 0, to = 0;
  dispatch::TimePoint begin{0};
  dispatch::Nanos duration{0};
  Callbacks callbacks;
  bool started = false;
  bool done = false;
  dispatch::DelayedTask pending;

  void schedule(dispatch::TimePoint at, const std::shared_ptr<Run>& self) {
    std::weak_ptr<Run> weak = self;
    pending = dispatch::mainQueue()->postAt(at, [weak] {
      if (auto run = weak.lock()) run->step(run);
    });
  }

  // Runs with `self` held, so a callback that destroys the animator leaves
  // this run alive until the step returns.
  void step(const std::shared_ptr<Run>& self) {
    if (done) return;
    const dispatch::TimePoint now = dispatch::mainQueue()->now();
    if (!started) {
      started = true;
      if (callbacks.onStart) callbacks.onStart();
      if (done) return;
    }
    const dispatch::TimePoint end = begin + duration;
    const double value = valueAt(from, to, begin, duration, now);
    if (callbacks.onValue) callbacks.onValue(value);
    if (done) return;
    if (now >= end) {
      done = true;
      if (auto onStop = std::move(callbacks.onStop)) onStop(true);
      return;
    }
    schedule(std::min(end, now + kStep), self);
  }

  void cancel(bool report) {
    if (done) return;
    done = true;
    pending.cancel();
    if (report) {
      if (auto onStop = std::move(callbacks.onStop)) onStop(false);
    }
  }
};

Animator::Animator() = default;

Animator::~Animator() {
  if (run_) run_->cancel(false);
}

void Animator::start(double from, double to, dispatch::Nanos duration, dispatch::Nanos delay,
                     Callbacks callbacks) {
  stop();
  auto run = std::make_shared<Run>();
  run->from = from;
  run->to = to;
  run->duration = std::max(duration, dispatch::Nanos(0));
  run->begin = dispatch::mainQueue()->now() + std::max(delay, dispatch::Nanos(0));
  run->callbacks = std::move(callbacks);
  run_ = run;
  run->schedule(run->begin, run);
}

void Animator::stop() {
  // Taken first: onStop may start a new run on this animator.
  if (auto run = std::move(run_)) run->cancel(true);
}

bool Animator::isRunning() const {
  return run_ && !run_->done;
}

double Animator::valueAt(double from, double to, dispatch::TimePoint begin,
                         dispatch::Nanos duration, dispatch::TimePoint time) {
  if (time <= begin) return from;
  if (duration.count() <= 0 || time >= begin + duration) return to;
  const double t =
      static_cast<double>((time - begin).count()) / static_cast<double>(duration.count());
  return from + (to - from) * t;
}

}  // namespace vistrelle::ui
