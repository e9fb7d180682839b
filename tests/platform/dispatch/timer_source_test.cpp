#include "platform/dispatch/timer_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"
#include "support/bounded_latch.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;
using testing::BoundedLatch;

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
  timer->resume();  // the deadline 0.5 s has passed: fires at once
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

// A 1 ms timer with a 5 ms handler on the concurrent global queue: the
// handler never overlaps itself, and what it touches needs no lock.
TEST(TimerSource, HandlerLongerThanItsIntervalNeverOverlapsOnAConcurrentQueue) {
  auto pool = std::make_shared<ThreadPool>(4);
  auto timer = TimerSource::create(pool);
  std::atomic<int> inFlight{0};
  std::atomic<int> mostInFlight{0};
  int runs = 0;  // the handler's own state, unguarded
  BoundedLatch fired(5);
  timer->setEventHandler([&] {
    const int now = ++inFlight;
    int most = mostInFlight.load();
    while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
    }
    ++runs;
    std::this_thread::sleep_for(5ms);
    --inFlight;
    fired.arrive();
  });
  timer->setTimer(pool->now(), 1ms);
  timer->resume();
  const bool enough = fired.waitFor();
  timer->cancel();
  pool->stop();
  ASSERT_TRUE(enough);
  EXPECT_EQ(mostInFlight.load(), 1);
  EXPECT_GE(runs, 5);
}

// Cancelled from outside while its handler runs on a concurrent queue: the
// cancel handler waits for the event handler to return.
TEST(TimerSource, CancelHandlerRunsAfterARunningEventHandler) {
  auto pool = std::make_shared<ThreadPool>(4);
  auto timer = TimerSource::create(pool);
  std::atomic<bool> inHandler{false};
  std::atomic<bool> overlapped{false};
  BoundedLatch entered(1), cancelled(1);
  std::promise<void> release;
  auto gate = release.get_future().share();
  timer->setEventHandler([&, gate] {
    inHandler = true;
    entered.arrive();
    gate.wait_for(2s);
    inHandler = false;
  });
  timer->setCancelHandler([&] {
    overlapped = inHandler.load();
    cancelled.arrive();
  });
  timer->setTimer(pool->now(), 0ns);
  timer->resume();
  ASSERT_TRUE(entered.waitFor());
  timer->cancel();
  const bool early = cancelled.waitFor(100ms);
  release.set_value();
  EXPECT_TRUE(early || cancelled.waitFor());
  pool->stop();
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace vistrelle::dispatch
