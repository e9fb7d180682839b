#include "platform/dispatch/event_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, RunsPostsAndDeadlinesInOrderThenQuitsWithStatus) {
  auto loop = std::make_shared<EventLoop>();
  std::vector<std::string> order;
  loop->postAfter(20ms, [&] {
    order.push_back("late");
    loop->quit(7);
  });
  loop->postAfter(5ms, [&] { order.push_back("early"); });
  auto dropped = loop->postAfter(1ms, [&] { order.push_back("cancelled"); });
  dropped.cancel();
  loop->post([&] { order.push_back("posted"); });
  std::thread other(
      [&] { loop->post([&] { order.push_back(loop->isCurrent() ? "cross" : "?"); }); });
  other.join();
  EXPECT_EQ(loop->run(), 7);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "cross", "early", "late"}));
}

TEST(EventLoop, IsCurrentOnlyOnItsThreadWhileItRuns) {
  auto loop = std::make_shared<EventLoop>();
  EXPECT_FALSE(loop->isCurrent()) << "before run()";
  bool inside = false;
  loop->post([&] {
    inside = loop->isCurrent();
    loop->quit();
  });
  loop->run();
  EXPECT_TRUE(inside);
  EXPECT_FALSE(loop->isCurrent()) << "after run() returned";
  std::thread runner([&] {
    loop->post([&] { loop->quit(); });
    loop->run();
  });
  runner.join();
  bool onNewThread = true;
  std::thread([&] { onNewThread = loop->isCurrent(); }).join();
  EXPECT_FALSE(onNewThread) << "a new thread may reuse the ended one's id";
}

// The retry road of the launch: try, and while it fails, try again 1.25 s later.
TEST(VirtualExecutor, DrivesARetryLoopDeterministically) {
  auto clock = std::make_shared<VirtualExecutor>();
  int attempts = 0;
  std::vector<TimePoint> at;
  std::function<void()> attempt = [&] {
    at.push_back(clock->now());
    if (++attempts < 4) clock->postAfter(1250ms, attempt);
  };
  clock->post(attempt);
  clock->advanceBy(3s);
  EXPECT_EQ(attempts, 3);
  clock->advanceBy(10s);
  EXPECT_EQ(attempts, 4);
  EXPECT_EQ(at, (std::vector<TimePoint>{0ms, 1250ms, 2500ms, 3750ms}));
  EXPECT_EQ(clock->now(), 13s);
  EXPECT_EQ(clock->pendingCount(), 0u);
}

}  // namespace
}  // namespace vistrelle::dispatch
