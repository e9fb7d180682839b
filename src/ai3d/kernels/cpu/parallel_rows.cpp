#include "ai3d/kernels/cpu/parallel_rows.h"

#include <algorithm>

namespace vistrelle::ai3d {
namespace {

// A few microseconds of polling before a thread blocks: enough to catch the
// next pass of the same frame, too little to matter on a busy machine.
constexpr int kSpins = 100;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

}  // namespace

ParallelRows::ParallelRows(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  workers_.reserve(threads - 1);
  for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this, i] { workerLoop(i); });
}

ParallelRows::~ParallelRows() {
  {
    std::lock_guard lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void ParallelRows::runErased(int rows, Function function, void* context) {
  if (rows <= 0) return;
  // Small jobs cost more to hand out than to do.
  if (workers_.empty() || rows < 8) {
    function(context, 0, rows, 0);
    return;
  }
  std::lock_guard runLock(runMutex_);
  function_ = function;
  context_ = context;
  rows_ = rows;
  chunk_ = std::max(1, rows / static_cast<int>(threadCount() * 4));
  next_.store(0, std::memory_order_relaxed);
  busy_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
  {
    std::lock_guard lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_all();
  work(0);
  for (int i = 0; i < kSpins && busy_.load(std::memory_order_acquire) != 0; ++i) relax();
  if (busy_.load(std::memory_order_acquire) != 0) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busy_.load(std::memory_order_acquire) == 0; });
  }
}

void ParallelRows::work(unsigned slot) {
  for (;;) {
    const int begin = next_.fetch_add(chunk_, std::memory_order_relaxed);
    if (begin >= rows_) return;
    function_(context_, begin, std::min(rows_, begin + chunk_), slot);
  }
}

void ParallelRows::workerLoop(unsigned slot) {
  uint64_t seen = 0;
  for (;;) {
    for (int i = 0; i < kSpins && generation_.load(std::memory_order_acquire) == seen &&
                    !stopping_.load(std::memory_order_relaxed);
         ++i) {
      relax();
    }
    if (generation_.load(std::memory_order_acquire) == seen) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] {
        return stopping_.load() || generation_.load(std::memory_order_acquire) != seen;
      });
    }
    if (stopping_.load()) return;
    seen = generation_.load(std::memory_order_acquire);
    work(slot);
    if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }
}

}  // namespace vistrelle::ai3d
