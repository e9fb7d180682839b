#include "platform/dispatch/event_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/dispatch/runtime.h"
#include "platform/dispatch/timer_source.h"
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

TEST(Runtime, ServesMainGlobalAndSerialQueuesAndJoinsOnStop) {
  auto main = std::make_shared<EventLoop>();
  {
    Runtime runtime(main, Runtime::Options{2});
    EXPECT_TRUE(Runtime::installed());
    EXPECT_EQ(mainQueue(), main);
    auto serial = makeSerialQueue("work");
    EXPECT_EQ(serial->label(), "work");
    globalQueue()->post([&] { serial->post([&] { main->post([&] { main->quit(3); }); }); });
    EXPECT_EQ(main->run(), 3);
  }
  EXPECT_FALSE(Runtime::installed());
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

TEST(TimerSource, RepeatsSuspendsAndNeverFiresAfterCancel) {
  auto clock = std::make_shared<VirtualExecutor>();
  auto timer = TimerSource::create(clock);
  std::vector<TimePoint> fires;
  bool cancelHandlerRan = false;
  timer->setEventHandler([&] { fires.push_back(clock->now()); });
  timer->setCancelHandler([&] { cancelHandlerRan = true; });
  timer->setTimer(clock->now() + 500ms, 3s);
  clock->advanceBy(10s);
  EXPECT_FALSE(fires.size()) << "created suspended";
  timer->resume();  // start at 10.5 s? no: the deadline 0.5 s has passed, fires at once
  clock->advanceBy(7s);
  ASSERT_EQ(fires.size(), 3u);
  EXPECT_EQ(fires[0], 10s);
  EXPECT_EQ(fires[1], 12500ms);
  EXPECT_EQ(fires[2], 15500ms);

  timer->suspend();
  clock->advanceBy(10s);
  EXPECT_EQ(fires.size(), 3u);
  timer->resume();
  clock->runUntilIdle();
  EXPECT_EQ(fires.size(), 4u) << "one coalesced fire for the time suspended";

  timer->cancel();
  clock->advanceBy(60s);
  EXPECT_EQ(fires.size(), 4u);
  EXPECT_TRUE(cancelHandlerRan);
}

TEST(TimerSource, OneShotFiresOnceAndCancelFromItsHandlerIsSafe) {
  auto clock = std::make_shared<VirtualExecutor>();
  auto once = TimerSource::create(clock);
  int onceFires = 0;
  once->setEventHandler([&] { ++onceFires; });
  once->setTimer(clock->now() + 1s, Nanos(0));
  once->resume();
  clock->advanceBy(5s);
  EXPECT_EQ(onceFires, 1);

  auto self = TimerSource::create(clock);
  int selfFires = 0;
  self->setEventHandler([&] {
    ++selfFires;
    self->cancel();
  });
  self->setTimer(clock->now(), 100ms);
  self->resume();
  clock->advanceBy(1s);
  EXPECT_EQ(selfFires, 1);
}

TEST(TimerSource, RealTimeFiresOnASerialQueue) {
  auto main = std::make_shared<EventLoop>();
  Runtime runtime(main, Runtime::Options{2});
  auto queue = makeSerialQueue("timer");
  auto timer = TimerSource::create(queue);
  int fires = 0;
  timer->setEventHandler([&] {
    if (++fires == 3) {
      timer->cancel();
      main->post([&] { main->quit(); });
    }
  });
  const TimePoint start = queue->now();
  timer->setTimer(start + 2ms, 2ms);
  timer->resume();
  main->run();
  EXPECT_EQ(fires, 3);
  EXPECT_GE(queue->now() - start, 6ms);
}

}  // namespace
}  // namespace vistrelle::dispatch
