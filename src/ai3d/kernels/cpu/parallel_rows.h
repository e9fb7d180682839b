// ParallelRows: a fixed set of worker threads that split a range of rows
// between them and the calling thread. No allocation per run.
//
//   ParallelRows pool(8);
//   pool.run(height, [&](int begin, int end) { for (int y = begin; y < end; ++y) ... });
//   pool.run(height, [&](int begin, int end, unsigned slot) { scratch[slot] ... });
//   // Passes where each reads up to `halo` rows around its own of the pass before:
//   pool.runPasses(3, height, 12, [&](int pass, int begin, int end, unsigned slot) { ... });
//
// A body taking a slot gets the running thread's, 0 to threadCount() - 1, for
// scratch of its own. One run at a time (other callers wait); a body must
// not throw.
//
// Rows go out in chunks, in order, to whichever thread asks next; a run ends
// when its last chunk is done, not when every worker has checked in, so a
// worker that is slow to wake (a busy machine) costs the run nothing. In
// runPasses, chunk k of a pass waits only for chunks k-1, k and k+1 of the
// pass before (chunks are at least `halo` rows), so the passes of a frame
// flow into each other with no barrier between them. Between runs that
// follow closely the workers spin briefly instead of sleeping.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
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
  // The most rows one call of a body gets in such a run (for scratch sized
  // to a chunk).
  int chunkRows(int passes, int rows, int halo) const;

  template <class Body>
  void run(int rows, Body&& body) {
    runErased(
        1, rows, 0,
        [](void* context, int, int begin, int end, unsigned slot) {
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

  template <class Body>
  void runPasses(int passes, int rows, int halo, Body&& body) {
    runErased(
        passes, rows, halo,
        [](void* context, int pass, int begin, int end, unsigned slot) {
          (*static_cast<std::remove_reference_t<Body>*>(context))(pass, begin, end, slot);
        },
        &body);
  }

 private:
  using Function = void (*)(void*, int, int, int, unsigned);
  // What the workers read of the run in hand; written before the run is
  // handed out and left alone until its last chunk is done.
  struct Job {
    Function function = nullptr;
    void* context = nullptr;
    int rows = 0;
    int chunkRows = 1;
    int chunks = 0;
    int tasks = 0;  // passes * chunks
  };
  static constexpr int kMaxTasks = 4096;

  void runErased(int passes, int rows, int halo, Function function, void* context);
  void work(uint32_t generation, unsigned slot);
  void execute(int task, unsigned slot);
  void workerLoop(unsigned slot);

  std::vector<std::thread> workers_;
  std::mutex runMutex_;
  Job job_;
  // (generation << 32) | (tasks << 16) | next task: a worker takes a task only
  // while the generation it woke for is the one being handed out.
  std::atomic<uint64_t> ticket_{0};
  std::atomic<uint32_t> generation_{0};
  std::atomic<int> sleeping_{0};
  std::atomic<int> done_{0};
  std::atomic<bool> stopping_{false};
  std::unique_ptr<std::atomic<uint8_t>[]> finished_;
};

}  // namespace vistrelle::ai3d
