#include "platform/dispatch/delayed_task.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;

// A task cancelled an hour before its deadline lets go of what it captured at
// once, on every kind of queue.
TEST(DelayedTask, CancelReleasesTheCapturesAtOnce) {
  auto pool = std::make_shared<ThreadPool>(2);
  struct Row {
    const char* name;
    ExecutorPtr executor;
  };
  const Row rows[] = {
      {"event loop", std::make_shared<EventLoop>()},
      {"virtual", std::make_shared<VirtualExecutor>()},
      {"pool", pool},
      {"serial queue", SerialQueue::create("delays", pool)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    DelayedTask task = row.executor->postAfter(1h, [held = std::move(held)] { ++*held; });
    EXPECT_FALSE(task.isCancelled());
    task.cancel();
    EXPECT_TRUE(task.isCancelled());
    EXPECT_TRUE(watch.expired());
  }
  pool->stop();
}

}  // namespace
}  // namespace vistrelle::dispatch
