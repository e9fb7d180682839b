#include "ui/qt_main_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <optional>

namespace vistrelle::ui {
namespace {

using namespace std::chrono_literals;

// A delay longer than one Qt timer can wait (24.8 days in the application; a
// few milliseconds here) is waited in steps, never cut short.
TEST(QtMainQueue, DelayBeyondTheLongestTimerWaitsInStepsToItsDeadline) {
  // The harness's application object runs the loop.
  ASSERT_NE(QCoreApplication::instance(), nullptr);
  auto queue = std::make_shared<QtMainQueue>(20ms);
  const dispatch::TimePoint start = queue->now();
  std::optional<dispatch::TimePoint> ranAt;
  queue->postAfter(70ms, [&] {
    ranAt = queue->now();
    queue->quit(0);
  });
  auto cancelled = queue->postAfter(30ms, [&] { queue->quit(2); });
  cancelled.cancel();
  queue->postAfter(10s, [&] { queue->quit(1); });
  EXPECT_EQ(queue->run(), 0);
  ASSERT_TRUE(ranAt.has_value());
  EXPECT_GE(*ranAt - start, 70ms);
}

}  // namespace
}  // namespace vistrelle::ui
