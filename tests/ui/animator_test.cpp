// The animator on the virtual clock: delay, linear run, callbacks, cancelling.

#include "ui/animator.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui_harness.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
using ui::Animator;

struct Recorder {
  std::vector<std::string> events;
  double last = -1;
  Animator::Callbacks callbacks() {
    return {
        [this] { events.push_back("start@" + std::to_string(std::lround(uitest::now() * 1000))); },
        [this](double v) { last = v; },
        [this](bool finished) {
          events.push_back(std::string(finished ? "stop" : "cancel") + "@" +
                           std::to_string(std::lround(uitest::now() * 1000)));
        }};
  }
};

TEST(Animator, WaitsThenRunsLinearlyAndStopsOnceAtTheEnd) {
  uitest::settle();
  const double t0 = uitest::now();
  Recorder r;
  Animator animator;
  animator.start(1.0, 0.0, 1s, 1s, r.callbacks());
  EXPECT_TRUE(animator.isRunning());
  uitest::advance(0.9);
  EXPECT_TRUE(r.events.empty()) << "nothing happens during the delay";
  EXPECT_EQ(r.last, -1);
  uitest::advance(0.1);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.last, 1.0) << "the first value is the start value";
  uitest::advance(0.5);
  EXPECT_NEAR(r.last, 0.5, 0.02);
  uitest::advance(0.5);
  EXPECT_EQ(r.last, 0.0) << "the last value is the end value, exactly";
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[1], "stop@" + std::to_string(std::lround((t0 + 2.0) * 1000)));
  EXPECT_FALSE(animator.isRunning());
  EXPECT_EQ(uitest::mainQueue().pendingCount(), 0u) << "no step is left behind";
}

TEST(Animator, StepsAboutSixtyTimesASecond) {
  int values = 0;
  Animator animator;
  animator.start(0, 1, 1s, 0s, {{}, [&](double) { ++values; }, {}});
  uitest::advance(1.0);
  EXPECT_GE(values, 59);
  EXPECT_LE(values, 62);
}

TEST(Animator, StoppingReportsNotFinishedAndDestroyingReportsNothing) {
  Recorder r;
  {
    Animator animator;
    animator.start(0, 1, 1s, 0s, r.callbacks());
    uitest::advance(0.2);
    animator.stop();
    const double at = r.last;
    uitest::advance(2.0);
    EXPECT_EQ(r.last, at) << "no value after stop";
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[1].rfind("cancel@", 0), 0u);
    animator.start(0, 1, 1s, 0s, r.callbacks());  // reusable
    uitest::advance(0.1);
  }
  const size_t count = r.events.size();
  uitest::advance(2.0);
  EXPECT_EQ(r.events.size(), count) << "a destroyed animator calls nothing";
}

TEST(Animator, ACallbackMayDestroyTheAnimator) {
  auto animator = std::make_unique<Animator>();
  int values = 0;
  animator->start(0, 1, 1s, 0s,
                  {{},
                   [&](double v) {
                     ++values;
                     if (v > 0.5) animator.reset();
                   },
                   {}});
  uitest::advance(2.0);
  EXPECT_EQ(animator, nullptr);
  EXPECT_GT(values, 30);
  EXPECT_LT(values, 40);

  auto second = std::make_unique<Animator>();
  bool stopped = false;
  second->start(0, 1, 0s, 0s, {{}, {}, [&](bool finished) {
                                 stopped = finished;
                                 second.reset();
                               }});
  uitest::advance(0.1);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(second, nullptr);
}

TEST(Animator, ValueAtClampsOutsideTheRun) {
  const dispatch::TimePoint begin(1'000'000'000);
  EXPECT_EQ(Animator::valueAt(2, 4, begin, 2s, begin - 1ms), 2);
  EXPECT_EQ(Animator::valueAt(2, 4, begin, 2s, begin + 1s), 3);
  EXPECT_EQ(Animator::valueAt(2, 4, begin, 2s, begin + 5s), 4);
  EXPECT_EQ(Animator::valueAt(2, 4, begin, 0s, begin), 2);
  EXPECT_EQ(Animator::valueAt(2, 4, begin, 0s, begin + 1ns), 4);
}

}  // namespace
}  // namespace vistrelle
