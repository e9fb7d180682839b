// ParallelRows: a fixed set of worker threads that split a range of rows
// between them and the calling thread. No allocation per run.
//
//   ParallelRows pool(8);
//   pool.run(height, [&](int begin, int end) { for (int y = begin; y < end; ++y) ... });
//   pool.run(height, [&](int begin, int end, unsigned slot) { scratch[slot] ... });
//
// A body taking a third argument gets the running thread's slot, 0 to
// threadCount() - 1, for scratch of its own.
// One run at a time; run() returns when every row is done. The body must
// not throw. Between runs that follow closely (the passes of one frame) the
// workers spin briefly instead of sleeping, so a pass does not pay a wake-up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace vistrelle::ai3d {

class ParallelRows {
 public:
  // 0 threads: one per hardware thread.
  explicit ParallelRows(unsigned threads = 0);
  ~ParallelRows();
  ParallelRows(const ParallelRows&) = delete;
  ParallelRows& operator=(const ParallelRows&) = delete;

  unsigned threadCount() const { return static_cast<unsigned>(workers_.size()) + 1; }

  template <class Body>
  void run(int rows, Body&& body) {
    runErased(
        rows,
        [](void* context, int begin, int end, unsigned slot) {
          auto& f = *static_cast<std::remove_reference_t<Body>*>(context);
          if constexpr (std::is_invocable_v<Body&, int, int, unsigned>) {
            f(begin, end, slot);
          } else {
            (void)slot;
            f(begin, end);
          }
        },
        &body);
  }

 private:
  using Function = void (*)(void*, int, int, unsigned);
  void runErased(int rows, Function function, void* context);
  void work(unsigned slot);
  void workerLoop(unsigned slot);

  std::vector<std::thread> workers_;
  std::mutex runMutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::atomic<uint64_t> generation_{0};
  std::atomic<int> busy_{0};
  std::atomic<bool> stopping_{false};
  Function function_ = nullptr;
  void* context_ = nullptr;
  int rows_ = 0;
  int chunk_ = 1;
  std::atomic<int> next_{0};
};

}  // namespace vistrelle::ai3d
