#include "ai3d/kernels/cpu/parallel_rows.h"

#include <algorithm>

namespace vistrelle::ai3d {

ParallelRows::ParallelRows(unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  workers_.reserve(threads - 1);
  for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
}

ParallelRows::~ParallelRows() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void ParallelRows::runErased(int rows, Function function, void* context) {
  if (rows <= 0) return;
  // Small jobs cost more to hand out than to do.
  if (workers_.empty() || rows < 8) {
    function(context, 0, rows);
    return;
  }
  std::lock_guard runLock(runMutex_);
  {
    std::lock_guard lock(mutex_);
    function_ = function;
    context_ = context;
    rows_ = rows;
    chunk_ = std::max(1, rows / static_cast<int>(threadCount() * 4));
    next_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<unsigned>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  work();
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
}

void ParallelRows::work() {
  for (;;) {
    const int begin = next_.fetch_add(chunk_, std::memory_order_relaxed);
    if (begin >= rows_) return;
    function_(context_, begin, std::min(rows_, begin + chunk_));
  }
}

void ParallelRows::workerLoop() {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    work();
    std::lock_guard lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

}  // namespace vistrelle::ai3d
