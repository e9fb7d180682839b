#include "ai3d/kernels/cpu/parallel_rows.h"

#include <algorithm>
#include <chrono>

namespace vistrelle::ai3d {
namespace {

// How long an idle worker polls for the next run before it sleeps: long
// enough to catch the next pass of the same frame, too short to matter on a
// busy machine.
constexpr std::chrono::microseconds kSpin{60};

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// Waits for flag to turn true: pauses first, then gives the processor away.
template <class Ready>
void waitFor(Ready ready) {
  for (int i = 0; !ready(); ++i) {
    if (i < 256) {
      relax();
    } else {
      std::this_thread::yield();
    }
  }
}

}  // namespace

ParallelRows::ParallelRows(unsigned threads)
    : finished_(std::make_unique<std::atomic<uint8_t>[]>(kMaxTasks)) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  workers_.reserve(threads - 1);
  for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this, i] { workerLoop(i); });
}

ParallelRows::~ParallelRows() {
  stopping_.store(true, std::memory_order_release);
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void ParallelRows::runErased(int passes, int rows, int halo, Function function, void* context) {
  if (rows <= 0 || passes <= 0) return;
  // Small jobs cost more to hand out than to do.
  if (workers_.empty() || rows < 8) {
    for (int pass = 0; pass < passes; ++pass) function(context, pass, 0, rows, 0);
    return;
  }
  std::lock_guard runLock(runMutex_);
  Job job;
  job.function = function;
  job.context = context;
  job.rows = rows;
  job.chunkRows = chunkRows(passes, rows, halo);
  job.chunks = (rows + job.chunkRows - 1) / job.chunkRows;
  job.tasks = passes * job.chunks;
  job_ = job;
  for (int i = 0; i < job.tasks; ++i) finished_[i].store(0, std::memory_order_relaxed);
  done_.store(0, std::memory_order_relaxed);
  const uint32_t generation = generation_.load(std::memory_order_relaxed) + 1;
  ticket_.store((uint64_t{generation} << 32) | (uint64_t(job.tasks) << 16),
                std::memory_order_release);
  generation_.store(generation, std::memory_order_release);
  if (sleeping_.load(std::memory_order_acquire) > 0) generation_.notify_all();
  work(generation, 0);
  // Every chunk is out; those still running finish on threads that are running.
  waitFor([&] { return done_.load(std::memory_order_acquire) == job.tasks; });
}

int ParallelRows::chunkRows(int passes, int rows, int halo) const {
  if (workers_.empty() || rows < 8) return std::max(rows, 1);
  // A few chunks per thread balance the load; a pass that reads its
  // neighbours' rows needs chunks at least as tall as what it reads.
  const int perThread = passes > 1 ? 2 : 4;
  const int share = int(threadCount()) * perThread;
  int chunk = std::max({1, halo, (rows + share - 1) / share});
  while (passes * ((rows + chunk - 1) / chunk) > kMaxTasks) chunk *= 2;
  return chunk;
}

void ParallelRows::work(uint32_t generation, unsigned slot) {
  uint64_t ticket = ticket_.load(std::memory_order_acquire);
  for (;;) {
    if (uint32_t(ticket >> 32) != generation) return;  // a later run, or none
    const int tasks = int((ticket >> 16) & 0xffff);
    const int next = int(ticket & 0xffff);
    if (next >= tasks) return;
    // Taken only if still this run's: then the run cannot end (nor job_
    // change) before this task is done.
    if (ticket_.compare_exchange_weak(ticket, ticket + 1, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      execute(next, slot);
      ticket = ticket_.load(std::memory_order_acquire);
    }
  }
}

void ParallelRows::execute(int task, unsigned slot) {
  const Job& job = job_;
  const int pass = task / job.chunks;
  const int chunk = task % job.chunks;
  if (pass > 0) {
    // Chunks go out in order: those waited for are taken, and done by
    // threads that wait for nothing later than them.
    const int before = (pass - 1) * job.chunks;
    const int first = std::max(0, chunk - 1);
    const int last = std::min(job.chunks - 1, chunk + 1);
    for (int k = first; k <= last; ++k) {
      waitFor([&] { return finished_[before + k].load(std::memory_order_acquire) != 0; });
    }
  }
  const int begin = chunk * job.chunkRows;
  job.function(job.context, pass, begin, std::min(job.rows, begin + job.chunkRows), slot);
  finished_[task].store(1, std::memory_order_release);
  done_.fetch_add(1, std::memory_order_acq_rel);
}

void ParallelRows::workerLoop(unsigned slot) {
  // A worker that starts late joins the runs after the one in hand.
  uint32_t seen = generation_.load(std::memory_order_acquire);
  for (;;) {
    // Set before the last bump of the generation: seen by a worker that
    // read that bump, even one that started after it.
    if (stopping_.load(std::memory_order_acquire)) return;
    uint32_t current = generation_.load(std::memory_order_acquire);
    if (current == seen) {
      const auto until = std::chrono::steady_clock::now() + kSpin;
      for (int i = 0; current == seen; ++i) {
        relax();
        current = generation_.load(std::memory_order_acquire);
        if ((i & 63) == 63 && std::chrono::steady_clock::now() > until) break;
      }
      if (current == seen) {
        sleeping_.fetch_add(1, std::memory_order_acq_rel);
        generation_.wait(seen, std::memory_order_acquire);
        sleeping_.fetch_sub(1, std::memory_order_acq_rel);
        continue;
      }
    }
    seen = current;
    if (stopping_.load(std::memory_order_acquire)) return;
    work(seen, slot);
  }
}

}  // namespace vistrelle::ai3d
