#include "platform/dispatch/deadline_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;

// Ties keep their arrival order and cancelled entries never come out; a
// deadline cancelled and re-armed again and again (a read time-out per
// request) does not pile up in the heap until its old deadlines.
TEST(DeadlineQueue, OrdersByDeadlineThenArrivalAndSweepsCancelledEntries) {
  DeadlineQueue queue;
  std::vector<int> order;
  EXPECT_TRUE(queue.push(20ns, [&] { order.push_back(3); }));
  EXPECT_TRUE(queue.push(10ns, [&] { order.push_back(1); }));
  EXPECT_FALSE(queue.push(10ns, [&] { order.push_back(2); }));
  auto [cancelled, guarded] = DelayedTask::guard([&] { order.push_back(-1); });
  EXPECT_FALSE(queue.push(15ns, std::move(guarded), cancelled));
  cancelled.cancel();
  Task task;
  EXPECT_FALSE(queue.popDue(9ns, task));
  while (queue.popDue(20ns, task)) task();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(queue.empty());

  for (int i = 0; i < 10'000; ++i) {
    auto [handle, wrapped] = DelayedTask::guard([] {});
    queue.push(TimePoint(1h), std::move(wrapped), handle);
    handle.cancel();
  }
  EXPECT_LT(queue.size(), 200u);
}

}  // namespace
}  // namespace vistrelle::dispatch
