#include "platform/dispatch/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/thread_pool.h"

namespace vistrelle::dispatch {
namespace {

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
  std::promise<void> done;
  for (int round = 0; round < 100; ++round) {
    for (auto& q : queues) {
      q->post([&] {
        if (count.fetch_add(1) + 1 == 6400) done.set_value();
      });
    }
  }
  done.get_future().wait();
  EXPECT_EQ(count.load(), 6400);
  EXPECT_EQ(pool->workers(), 4u);
}

TEST(ThreadPoolStop, RunsQueuedWorkThenJoins) {
  auto pool = std::make_shared<ThreadPool>(2);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) pool->post([&] { ran++; });
  pool->stop();
  EXPECT_EQ(ran.load(), 100);
  pool->stop();  // idempotent
}

}  // namespace
}  // namespace vistrelle::dispatch
