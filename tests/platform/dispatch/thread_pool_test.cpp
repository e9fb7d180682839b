#include "platform/dispatch/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/serial_queue.h"
#include "support/bounded_latch.h"
#include "support/finishes_within.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;
using testing::BoundedLatch;
using testing::finishesWithin;

TEST(ThreadPoolStop, RunsQueuedWorkThenJoins) {
  auto pool = std::make_shared<ThreadPool>(2);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) pool->post([&] { ran++; });
  pool->stop();
  EXPECT_EQ(ran.load(), 100);
  pool->stop();  // idempotent
}

// One worker stops the pool from inside a task while other threads stop it
// too: nobody joins itself, queued work still runs, every stop returns.
TEST(ThreadPoolStop, FromAWorkerAndFromSeveralThreadsAtOnce) {
  auto pool = std::make_shared<ThreadPool>(3);
  std::atomic<int> ran{0};
  BoundedLatch stoppedFromWorker(1);
  for (int i = 0; i < 100; ++i) pool->post([&] { ran++; });
  pool->post([&] {
    pool->stop();
    stoppedFromWorker.arrive();
  });
  std::vector<std::thread> stoppers;
  for (int i = 0; i < 3; ++i) stoppers.emplace_back([&] { pool->stop(); });
  for (auto& thread : stoppers) thread.join();
  EXPECT_TRUE(stoppedFromWorker.waitFor());
  EXPECT_EQ(ran.load(), 100);
  EXPECT_TRUE(pool->stopped());
}

// The last reference to a pool may go inside one of its own tasks (a serial
// queue's drain holds its pool): the pool is destroyed on its own worker.
TEST(ThreadPoolStop, DestroyedByItsOwnTask) {
  auto pool = std::make_shared<ThreadPool>(2);
  std::weak_ptr<ThreadPool> watch = pool;
  std::promise<void> release;
  auto gate = release.get_future().share();
  auto destroyed = std::make_shared<BoundedLatch>(1);
  pool->post([keep = pool, gate, destroyed]() mutable {
    gate.wait();
    keep.reset();
    destroyed->arrive();
  });
  pool.reset();
  release.set_value();
  EXPECT_TRUE(destroyed->waitFor());
  EXPECT_TRUE(watch.expired());
}

// Deadlines still to come when the pool stops are dropped with what they
// hold, a serial queue's too: a task that holds its own queue must not keep
// queue and pool alive.
TEST(ThreadPoolStop, DropsDeadlinesToComeWithWhatTheyHold) {
  auto pool = std::make_shared<ThreadPool>(2);
  auto queue = SerialQueue::create("timers", pool);
  std::weak_ptr<ThreadPool> poolWatch = pool;
  std::weak_ptr<SerialQueue> queueWatch = queue;
  queue->postAfter(1h, [queue] {});
  pool->postAfter(1h, [queue] {});
  pool->stop();
  queue.reset();
  pool.reset();
  EXPECT_TRUE(queueWatch.expired());
  EXPECT_TRUE(poolWatch.expired());
}

// After stop: sync() runs inline on the pool and on a serial queue, where it
// used to wait for ever for a thread that was gone.
TEST(ThreadPoolStop, SyncAfterStopRunsInline) {
  auto pool = std::make_shared<ThreadPool>(2);
  auto queue = SerialQueue::create("late", pool);
  queue->post([] {});
  pool->stop();
  auto ran = std::make_shared<std::atomic<int>>(0);
  const bool returned = finishesWithin(5s, [pool, queue, ran] {
    pool->sync([ran] { (*ran)++; });
    queue->sync([ran] { (*ran)++; });
  });
  ASSERT_TRUE(returned) << "sync() after stop never returned";
  EXPECT_EQ(ran->load(), 2);
}

// A post after stop is a shutdown-order bug: it stops a debug build with a
// message, and elsewhere is dropped with a log line, releasing what the task
// held, so no queue and pool keep each other alive.
TEST(ThreadPoolStop, PostAfterStopFailsLoudly) {
  struct Target {
    const char* name;
    std::function<void(std::shared_ptr<ThreadPool>, SerialQueuePtr, Task)> post;
    const char* label;
  };
  const Target targets[] = {
      {"pool", [](auto pool, auto, Task task) { pool->post(std::move(task)); }, "\"global\""},
      {"pool deadline", [](auto pool, auto, Task task) { pool->postAfter(1ms, std::move(task)); },
       "\"global\""},
      {"serial queue", [](auto, auto queue, Task task) { queue->post(std::move(task)); },
       "\"late\""},
      {"serial deadline",
       [](auto, auto queue, Task task) { queue->postAfter(1ms, std::move(task)); }, "\"late\""},
  };
  for (const auto& target : targets) {
    SCOPED_TRACE(target.name);
    auto pool = std::make_shared<ThreadPool>(2);
    auto queue = SerialQueue::create("late", pool);
    pool->stop();
#ifndef NDEBUG
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(target.post(pool, queue, [] {}),
                 std::string(target.label) + " after its threads stopped");
#else
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    std::weak_ptr<ThreadPool> poolWatch = pool;
    std::weak_ptr<SerialQueue> queueWatch = queue;
    ::testing::internal::CaptureStderr();
    target.post(pool, queue, [held = std::move(held)] { ++*held; });
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(std::string(target.label) + " after its threads stopped; dropped"),
              std::string::npos)
        << log;
    EXPECT_TRUE(watch.expired()) << "the dropped task is still held";
    queue.reset();
    pool.reset();
    EXPECT_TRUE(queueWatch.expired() && poolWatch.expired()) << "queue and pool keep each other";
#endif
  }
}

}  // namespace
}  // namespace vistrelle::dispatch
