#include "platform/dnssd/linux/avahi_runtime_poll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::dnssd {
namespace {

using namespace std::chrono_literals;
using dispatch::UniqueFd;

// What the watch callbacks saw, in order.
struct Seen {
  struct Call {
    int tag;
    int fd;
    int events;
    bool onQueue;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> calls;
  dispatch::ExecutorPtr queue;
  // Runs inside a callback, by tag; set and called on the queue.
  std::function<void(int tag, AvahiWatch*)> onCall;

  bool waitFor(size_t count, std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return calls.size() >= count; });
  }
  std::vector<Call> snapshot() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

struct Tagged {
  Seen* seen;
  int tag;
};

void watchCallback(AvahiWatch* watch, int fd, AvahiWatchEvent events, void* userdata) {
  auto* tagged = static_cast<Tagged*>(userdata);
  Seen& seen = *tagged->seen;
  {
    std::lock_guard lock(seen.mutex);
    seen.calls.push_back({tagged->tag, fd, events, seen.queue->isCurrent()});
    seen.changed.notify_all();
  }
  if (seen.onCall) seen.onCall(tagged->tag, watch);
}

class AvahiRuntimePollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.queue = queue;
    queue->sync([&] { poll = std::make_unique<AvahiRuntimePoll>(queue, reactor); });
    api = poll->api();
  }
  void TearDown() override {
    queue->sync([&] { poll.reset(); });
    pool->stop();
    reactor.stop();
  }
  // Every use of the poll happens on its queue.
  void onQueue(const std::function<void()>& work) { queue->sync(work); }

  dispatch::Reactor reactor;
  std::shared_ptr<dispatch::ThreadPool> pool = std::make_shared<dispatch::ThreadPool>(2);
  dispatch::SerialQueuePtr queue = dispatch::SerialQueue::create("avahi.test", pool);
  std::unique_ptr<AvahiRuntimePoll> poll;
  const AvahiPoll* api = nullptr;
  Seen seen;
};

TEST_F(AvahiRuntimePollTest, AWatchReportsReadinessOnTheQueueUntilItWantsNothing) {
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
  UniqueFd reader(pipeFds[0]), writer(pipeFds[1]);
  Tagged tag{&seen, 1};
  // Level-triggered, as avahi expects: the callback drains what it is told of.
  seen.onCall = [&](int, AvahiWatch*) {
    char byte;
    while (::read(reader.get(), &byte, 1) == 1) {
    }
  };
  AvahiWatch* watch = nullptr;
  onQueue([&] { watch = api->watch_new(api, reader.get(), AVAHI_WATCH_IN, &watchCallback, &tag); });
  ASSERT_NE(watch, nullptr);
  onQueue([&] { EXPECT_EQ(poll->watchCount(), 1u); });

  ASSERT_EQ(::write(writer.get(), "a", 1), 1);
  ASSERT_TRUE(seen.waitFor(1));
  auto calls = seen.snapshot();
  EXPECT_EQ(calls[0].fd, reader.get());
  EXPECT_EQ(calls[0].events, AVAHI_WATCH_IN);
  EXPECT_TRUE(calls[0].onQueue);
  onQueue([&] { EXPECT_EQ(api->watch_get_events(watch), AVAHI_WATCH_IN); });

  // Wanting nothing silences it although bytes wait; wanting again wakes it.
  onQueue([&] { api->watch_update(watch, static_cast<AvahiWatchEvent>(0)); });
  ASSERT_EQ(::write(writer.get(), "b", 1), 1);
  EXPECT_FALSE(seen.waitFor(2, 200ms));
  onQueue([&] { api->watch_update(watch, AVAHI_WATCH_IN); });
  ASSERT_TRUE(seen.waitFor(2));

  onQueue([&] { api->watch_free(watch); });
  onQueue([&] { EXPECT_EQ(poll->watchCount(), 0u); });
  ASSERT_EQ(::write(writer.get(), "c", 1), 1);
  EXPECT_FALSE(seen.waitFor(3, 200ms));
}

TEST_F(AvahiRuntimePollTest, TwoWatchesShareADescriptorAndOneMayFreeItselfInItsCallback) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
  UniqueFd ours(pair[0]), theirs(pair[1]);
  Tagged readTag{&seen, 1}, writeTag{&seen, 2};
  seen.onCall = [&](int tag, AvahiWatch* watch) {
    if (tag == 2) api->watch_free(watch);  // writable once is enough
    char buffer[16];
    if (tag == 1)
      while (::read(ours.get(), buffer, sizeof buffer) > 0) {
      }
  };
  onQueue([&] {
    ASSERT_NE(api->watch_new(api, ours.get(), AVAHI_WATCH_IN, &watchCallback, &readTag), nullptr);
    ASSERT_NE(api->watch_new(api, ours.get(), AVAHI_WATCH_OUT, &watchCallback, &writeTag), nullptr);
  });

  // Writable at once: only the writing watch hears of it, once.
  ASSERT_TRUE(seen.waitFor(1));
  EXPECT_EQ(seen.snapshot()[0].tag, 2);
  EXPECT_EQ(seen.snapshot()[0].events, AVAHI_WATCH_OUT);
  ASSERT_EQ(::write(theirs.get(), "x", 1), 1);
  ASSERT_TRUE(seen.waitFor(2));
  EXPECT_EQ(seen.snapshot()[1].tag, 1);
  EXPECT_EQ(seen.snapshot()[1].events, AVAHI_WATCH_IN);
  onQueue([&] { EXPECT_EQ(poll->watchCount(), 1u); });

  // The peer goes: the reading watch is told of the hang-up.
  onQueue([&] { seen.onCall = [&](int, AvahiWatch* watch) { api->watch_free(watch); }; });
  theirs.reset();
  ASSERT_TRUE(seen.waitFor(3));
  const auto last = seen.snapshot()[2];
  EXPECT_EQ(last.tag, 1);
  EXPECT_TRUE(last.events & AVAHI_WATCH_IN);
  EXPECT_TRUE(last.events & AVAHI_WATCH_HUP);
  onQueue([&] { EXPECT_EQ(poll->watchCount(), 0u); });
  for (const auto& call : seen.snapshot()) EXPECT_TRUE(call.onQueue);
}

// Deadlines run on the executor's clock: a virtual one here.
TEST(AvahiRuntimePollTimeouts, ATimeoutFiresOnceAtItsTimeAndCanBeMovedDisabledAndFreed) {
  dispatch::Reactor reactor;
  auto clock = std::make_shared<dispatch::VirtualExecutor>();
  AvahiRuntimePoll poll(clock, reactor);
  const AvahiPoll* api = poll.api();
  auto inSeconds = [](int seconds) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tv.tv_sec += seconds;
    return tv;
  };
  int fired = 0;
  auto callback = [](AvahiTimeout*, void* count) { ++*static_cast<int*>(count); };

  const timeval five = inSeconds(5);
  AvahiTimeout* timeout = api->timeout_new(api, &five, callback, &fired);
  clock->advanceBy(4900ms);
  EXPECT_EQ(fired, 0);
  clock->advanceBy(200ms);
  EXPECT_EQ(fired, 1);
  clock->advanceBy(60s);
  EXPECT_EQ(fired, 1);  // once

  const timeval ten = inSeconds(10);
  api->timeout_update(timeout, &ten);
  clock->advanceBy(9s);
  EXPECT_EQ(fired, 1);
  api->timeout_update(timeout, nullptr);  // disabled
  clock->advanceBy(60s);
  EXPECT_EQ(fired, 1);

  const timeval now = inSeconds(0);
  api->timeout_update(timeout, &now);
  clock->runUntilIdle();
  EXPECT_EQ(fired, 2);

  const timeval one = inSeconds(1);
  api->timeout_update(timeout, &one);
  api->timeout_free(timeout);
  EXPECT_EQ(poll.timeoutCount(), 0u);
  clock->advanceBy(60s);
  EXPECT_EQ(fired, 2);
  reactor.stop();
}

}  // namespace
}  // namespace vistrelle::dnssd
