#include "platform/dispatch/serial_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/thread_pool.h"
#include "support/bounded_latch.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;
using testing::BoundedLatch;

// A pool whose workers are stuck cannot be joined: it is kept for the rest
// of the run, so that the test fails instead of hanging.  Its tasks hold what
// they use by value.
void abandon(std::shared_ptr<ThreadPool> pool) {
  static auto* kept = new std::vector<std::shared_ptr<ThreadPool>>();
  kept->push_back(std::move(pool));
}

class SerialQueueTest : public ::testing::Test {
 protected:
  std::shared_ptr<ThreadPool> pool = std::make_shared<ThreadPool>(4);
  void TearDown() override { pool->stop(); }
};

TEST_F(SerialQueueTest, KeepsPerProducerOrderAndNeverOverlapsUnderLoad) {
  auto queue = SerialQueue::create("order", pool);
  constexpr int kProducers = 8;
  constexpr int kPerProducer = 5000;
  std::vector<int> last(kProducers, -1);
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> disordered{false};
  std::promise<void> done;
  std::atomic<int> remaining{kProducers * kPerProducer};

  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        queue->post([&, p, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          if (!queue->isCurrent()) overlapped = true;
          if (last[p] != i - 1) disordered = true;
          last[p] = i;
          running.fetch_sub(1);
          if (remaining.fetch_sub(1) == 1) done.set_value();
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  done.get_future().wait();
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(disordered);
  EXPECT_FALSE(queue->isCurrent());
}

TEST_F(SerialQueueTest, DelayedTaskRunsAfterItsDelayAndCancelledOneNever) {
  auto queue = SerialQueue::create("delays", pool);
  std::promise<TimePoint> fired;
  std::atomic<bool> cancelledRan{false};
  const TimePoint start = queue->now();
  auto cancelled = queue->postAfter(std::chrono::milliseconds(5), [&] { cancelledRan = true; });
  queue->postAfter(std::chrono::milliseconds(20), [&] { fired.set_value(queue->now()); });
  cancelled.cancel();
  const TimePoint at = fired.get_future().get();
  EXPECT_GE(at - start, std::chrono::milliseconds(20));
  EXPECT_FALSE(cancelledRan);
  EXPECT_TRUE(cancelled.isCancelled());
}

TEST_F(SerialQueueTest, SyncRunsInlineWhenIdleAndAfterQueuedWorkOtherwise) {
  auto queue = SerialQueue::create("sync", pool);
  bool ranOnQueue = false;
  queue->sync([&] { ranOnQueue = queue->isCurrent(); });
  EXPECT_TRUE(ranOnQueue);

  std::vector<int> order;
  std::promise<void> release;
  auto gate = release.get_future().share();
  queue->post([&, gate] {
    gate.wait();
    order.push_back(1);
  });
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    release.set_value();
  });
  queue->sync([&] { order.push_back(2); });
  opener.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  // Nested: sync onto the queue from a task of its own runs inline.
  std::promise<bool> nested;
  queue->post([&] { queue->sync([&] { nested.set_value(queue->isCurrent()); }); });
  EXPECT_TRUE(nested.get_future().get());
}

TEST_F(SerialQueueTest, ManyQueuesShareThePool) {
  std::vector<SerialQueuePtr> queues;
  for (int i = 0; i < 64; ++i) queues.push_back(SerialQueue::create("q", pool));
  std::atomic<int> count{0};
  BoundedLatch done(6400);
  for (int round = 0; round < 100; ++round) {
    for (auto& q : queues) {
      q->post([&] {
        count++;
        done.arrive();
      });
    }
  }
  ASSERT_TRUE(done.waitFor()) << count.load() << " of 6400 tasks ran";
  EXPECT_EQ(count.load(), 6400);
  EXPECT_EQ(pool->workers(), 4u);
}

// Every worker of the pool calls sync() on a queue whose drain waits in the
// pool behind those very workers: nothing may wait for a free worker.
TEST(SerialQueueSync, OnEveryPoolThreadNeverParksThePool) {
  constexpr int kWorkers = 4;
  auto pool = std::make_shared<ThreadPool>(kWorkers);
  std::vector<SerialQueuePtr> queues;
  for (int i = 0; i < kWorkers; ++i) queues.push_back(SerialQueue::create("sync", pool));
  auto busy = std::make_shared<BoundedLatch>(kWorkers);
  auto synced = std::make_shared<BoundedLatch>(kWorkers);
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
  auto queuedFirst = std::make_shared<std::vector<int>>(kWorkers, 0);  // each touched on its queue
  auto inOrder = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < kWorkers; ++i) {
    pool->post([=] {
      busy->arrive();
      gate.wait();
      queues[i]->sync([=] {
        if ((*queuedFirst)[i] == 1) (*inOrder)++;
        synced->arrive();
      });
    });
  }
  ASSERT_TRUE(busy->waitFor());
  for (int i = 0; i < kWorkers; ++i) queues[i]->post([=] { (*queuedFirst)[i] = 1; });
  open.set_value();
  if (!synced->waitFor()) {
    abandon(pool);
    FAIL() << "the pool's workers are parked in sync()";
  }
  EXPECT_EQ(inOrder->load(), kWorkers) << "each sync ran after the task queued before it";
  pool->stop();
}

// Delayed tasks that all come due together on a busy pool: every queue runs
// its own in deadline order, whatever order they were posted in.
TEST(SerialQueueDelays, RunInDeadlineOrderOnEveryQueue) {
  constexpr int kWorkers = 4;
  constexpr int kQueues = 150;
  constexpr int kTasks = 32;
  auto pool = std::make_shared<ThreadPool>(kWorkers);
  // The workers wait at a gate while the tasks are posted, so that none is
  // due and taken before its earlier neighbours are in.
  BoundedLatch busy(kWorkers);
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
  for (int i = 0; i < kWorkers; ++i) {
    pool->post([&busy, gate] {
      busy.arrive();
      gate.wait();
    });
  }
  ASSERT_TRUE(busy.waitFor());
  std::vector<SerialQueuePtr> queues;
  std::vector<std::vector<int>> order(kQueues);  // each touched on its queue
  BoundedLatch ran(kQueues * kTasks);
  const TimePoint base = pool->now();
  for (int q = 0; q < kQueues; ++q) {
    queues.push_back(SerialQueue::create("delays", pool));
    for (int t = kTasks - 1; t >= 0; --t) {
      queues[q]->postAt(base + std::chrono::nanoseconds(q * kTasks + t), [&, q, t] {
        order[q].push_back(t);
        ran.arrive();
      });
    }
  }
  open.set_value();
  ASSERT_TRUE(ran.waitFor());
  pool->stop();
  int outOfOrder = 0;
  for (const auto& seen : order) outOfOrder += !std::is_sorted(seen.begin(), seen.end());
  EXPECT_EQ(outOfOrder, 0) << "queues that ran delayed tasks out of deadline order";
}

}  // namespace
}  // namespace vistrelle::dispatch
