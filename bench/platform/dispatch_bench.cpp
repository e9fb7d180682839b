// The dispatch runtime against bare baselines measured in the same run:
//   - task posts per second on one serial queue, from one and from four
//     threads, against one std::thread behind a condition variable;
//   - wake-up lateness (p50/p99) of 1 ms and 100 ms postAfter tasks on a
//     serial queue, against the same bare thread waiting with wait_until;
//   - reactor events per second, one byte bounced across a socketpair through
//     two read sources, against a bare epoll loop doing the same (and, for
//     scale, against a bare epoll thread handing each event to a worker).
// The summary after the table sets each figure against its goal.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <latch>
#include <thread>
#include <vector>

#include "bench/platform/ratio_reporter.h"
#include "bench/platform/raw_epoll_handoff.h"
#include "bench/platform/raw_epoll_ping_pong.h"
#include "bench/platform/raw_queue.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"

namespace {

using vistrelle::bench::RawEpollHandoff;
using vistrelle::bench::RawEpollPingPong;
using vistrelle::bench::RawQueue;
using vistrelle::dispatch::EventLoop;
using vistrelle::dispatch::IoSourcePtr;
using vistrelle::dispatch::Nanos;
using vistrelle::dispatch::Runtime;
using vistrelle::dispatch::SerialQueuePtr;
using vistrelle::dispatch::SteadyClock;
using vistrelle::dispatch::Task;
using vistrelle::dispatch::TimePoint;
using vistrelle::dispatch::UniqueFd;
using namespace std::chrono_literals;

constexpr int64_t kPostsPerBatch = 200'000;
constexpr int64_t kEventsPerBatch = 10'000;

double secondsSince(TimePoint begin) {
  return std::chrono::duration<double>(SteadyClock::monotonicNow() - begin).count();
}

// Counts finished work from any thread and wakes the waiter at the target.
class Countdown {
 public:
  void reset(int64_t target) {
    target_.store(target, std::memory_order_relaxed);
    done_.store(0, std::memory_order_release);
  }
  // Returns how many have arrived, this one included.
  int64_t arrive() {
    const int64_t count = done_.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (count == target_.load(std::memory_order_relaxed)) done_.notify_all();
    return count;
  }
  int64_t target() const { return target_.load(std::memory_order_relaxed); }
  void wait() const {
    for (int64_t seen = done_.load(std::memory_order_acquire); seen < target();
         seen = done_.load(std::memory_order_acquire)) {
      done_.wait(seen, std::memory_order_acquire);
    }
  }

 private:
  std::atomic<int64_t> target_{0};
  std::atomic<int64_t> done_{0};
};

// The process' queues as the application has them (default worker count).
std::unique_ptr<Runtime> makeRuntime() {
  return std::make_unique<Runtime>(std::make_shared<EventLoop>("bench.main"));
}

// ---------------------------------------------------------------------------
// Posts

// Seconds from the first post until the last of `producers * perProducer`
// tasks has run; producers are started before the clock.
template <class Post>
double timePosts(int producers, int64_t perProducer, Post post) {
  Countdown countdown;
  countdown.reset(producers * perProducer);
  std::latch start(1);
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&] {
      start.wait();
      for (int64_t i = 0; i < perProducer; ++i) post([&countdown] { countdown.arrive(); });
    });
  }
  const TimePoint begin = SteadyClock::monotonicNow();
  start.count_down();
  for (auto& thread : threads) thread.join();
  countdown.wait();
  return secondsSince(begin);
}

void BM_SerialQueuePosts(benchmark::State& state) {
  const int producers = static_cast<int>(state.range(0));
  const int64_t perProducer = kPostsPerBatch / producers;
  auto runtime = makeRuntime();
  SerialQueuePtr queue = runtime->makeSerialQueue("bench.posts");
  RawQueue raw;
  double dispatchSeconds = 0;
  double rawSeconds = 0;
  int64_t posts = 0;
  for (auto _ : state) {
    const double dispatched =
        timePosts(producers, perProducer, [&](Task task) { queue->post(std::move(task)); });
    const double bare =
        timePosts(producers, perProducer, [&](Task task) { raw.post(std::move(task)); });
    state.SetIterationTime(dispatched);
    dispatchSeconds += dispatched;
    rawSeconds += bare;
    posts += producers * perProducer;
  }
  runtime->stop();
  state.counters["posts/s"] = static_cast<double>(posts) / dispatchSeconds;
  state.counters["raw_posts/s"] = static_cast<double>(posts) / rawSeconds;
  state.counters["ratio"] = rawSeconds / dispatchSeconds;
}
BENCHMARK(BM_SerialQueuePosts)
    ->ArgName("producers")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Timer lateness

struct Lateness {
  double p50Micros;
  double p99Micros;
  double maxMicros;
};

Lateness summarise(std::vector<int64_t> lateNanos) {
  std::sort(lateNanos.begin(), lateNanos.end());
  const auto n = lateNanos.size();
  auto micros = [&](size_t index) { return static_cast<double>(lateNanos[index]) / 1e3; };
  const auto p99 = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1;
  return {micros((n - 1) / 2), micros(p99), micros(n - 1)};
}

// Issues `samples` delayed tasks, one every `spacing` (so that many are
// pending at once for long delays), and returns how late each ran after the
// time it was due.  `postAfter(delay, task)` posts one.
template <class PostAfter>
std::vector<int64_t> measureLateness(int samples, Nanos spacing, Nanos delay, PostAfter postAfter) {
  std::vector<int64_t> late(static_cast<size_t>(samples));
  Countdown countdown;
  countdown.reset(samples);
  TimePoint next = SteadyClock::monotonicNow();
  for (int i = 0; i < samples; ++i) {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(next)));
    next += spacing;
    // Taken before the post, so the figure includes the cost of posting.
    const TimePoint due = SteadyClock::monotonicNow() + delay;
    postAfter(delay, [&late, &countdown, i, due] {
      late[static_cast<size_t>(i)] = (SteadyClock::monotonicNow() - due).count();
      countdown.arrive();
    });
  }
  countdown.wait();
  return late;
}

void BM_TimerLateness(benchmark::State& state) {
  const Nanos delay = std::chrono::milliseconds(state.range(0));
  // About one second of samples per side.
  const Nanos spacing = std::max<Nanos>(1ms, delay / 40);
  const int samples = static_cast<int>(1s / spacing);
  auto runtime = makeRuntime();
  SerialQueuePtr queue = runtime->makeSerialQueue("bench.timers");
  RawQueue raw;
  Lateness dispatched{};
  Lateness bare{};
  for (auto _ : state) {
    dispatched = summarise(measureLateness(samples, spacing, delay, [&](Nanos after, Task task) {
      queue->postAfter(after, std::move(task));
    }));
    bare = summarise(measureLateness(samples, spacing, delay, [&](Nanos after, Task task) {
      raw.postAt(SteadyClock::monotonicNow() + after, std::move(task));
    }));
  }
  runtime->stop();
  state.counters["samples"] = samples;
  state.counters["p50_us"] = dispatched.p50Micros;
  state.counters["p99_us"] = dispatched.p99Micros;
  state.counters["max_us"] = dispatched.maxMicros;
  state.counters["raw_p50_us"] = bare.p50Micros;
  state.counters["raw_p99_us"] = bare.p99Micros;
  state.counters["raw_max_us"] = bare.maxMicros;
}
BENCHMARK(BM_TimerLateness)
    ->ArgName("delay_ms")
    ->Arg(1)
    ->Arg(100)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Reactor events

void BM_ReactorPingPong(benchmark::State& state) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  const UniqueFd ends[2] = {UniqueFd(fds[0]), UniqueFd(fds[1])};
  auto runtime = makeRuntime();
  // One queue per end, as each socket of the socket layer has its own.
  const SerialQueuePtr queues[2] = {runtime->makeSerialQueue("bench.ping"),
                                    runtime->makeSerialQueue("bench.pong")};
  Countdown countdown;
  IoSourcePtr sources[2];
  for (int i = 0; i < 2; ++i) {
    const int fd = ends[i].get();
    sources[i] = runtime->reactor().makeReadSource(fd, queues[i]);
    sources[i]->setEventHandler([fd, &countdown] {
      char byte;
      if (::read(fd, &byte, 1) != 1) return;
      // The last event sends nothing on, so the next batch starts clean.
      if (countdown.arrive() < countdown.target()) (void)!::write(fd, &byte, 1);
    });
    sources[i]->resume();
  }
  RawEpollPingPong raw;
  RawEpollHandoff handoff;
  double dispatchSeconds = 0;
  double rawSeconds = 0;
  double handoffSeconds = 0;
  int64_t events = 0;
  for (auto _ : state) {
    countdown.reset(kEventsPerBatch);
    const TimePoint begin = SteadyClock::monotonicNow();
    const char byte = 1;
    if (::write(ends[0].get(), &byte, 1) != 1) {
      state.SkipWithError("write failed");
      break;
    }
    countdown.wait();
    const double dispatched = secondsSince(begin);
    const TimePoint rawBegin = SteadyClock::monotonicNow();
    raw.run(kEventsPerBatch);
    const double bare = secondsSince(rawBegin);
    const TimePoint handoffBegin = SteadyClock::monotonicNow();
    handoff.run(kEventsPerBatch);
    const double handedOff = secondsSince(handoffBegin);
    state.SetIterationTime(dispatched);
    dispatchSeconds += dispatched;
    rawSeconds += bare;
    handoffSeconds += handedOff;
    events += kEventsPerBatch;
  }
  for (auto& source : sources) source->cancel();
  runtime->stop();
  state.counters["events/s"] = static_cast<double>(events) / dispatchSeconds;
  state.counters["raw_events/s"] = static_cast<double>(events) / rawSeconds;
  state.counters["ratio"] = rawSeconds / dispatchSeconds;
  // Against a bare loop that also hands each event to another thread.
  state.counters["handoff_events/s"] = static_cast<double>(events) / handoffSeconds;
  state.counters["handoff_ratio"] = handoffSeconds / dispatchSeconds;
}
BENCHMARK(BM_ReactorPingPong)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vistrelle::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
