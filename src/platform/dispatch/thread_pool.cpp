#include "platform/dispatch/thread_pool.h"

#include "platform/dispatch/reactor.h"

namespace vistrelle::dispatch {

namespace {
thread_local const ThreadPool* currentPool = nullptr;
}

ThreadPool::ThreadPool(Reactor& reactor, size_t workers, std::string label)
    : reactor_(reactor), label_(std::move(label)) {
  if (workers == 0) workers = 1;
  threads_.reserve(workers);
  for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  stop();
}

void ThreadPool::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  ready_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void ThreadPool::post(Task task) {
  bool wakeOne;
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wakeOne = idle_ > 0;
  }
  if (wakeOne) ready_.notify_one();
}

DelayedTask ThreadPool::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  reactor_.schedule(deadline,
                    [this, guarded = std::move(guarded)]() mutable { post(std::move(guarded)); });
  return handle;
}

TimePoint ThreadPool::now() const {
  return SteadyClock::monotonicNow();
}

bool ThreadPool::isCurrent() const {
  return currentPool == this;
}

void ThreadPool::work() {
  currentPool = this;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      if (stopping_) break;
      ++idle_;
      ready_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
      --idle_;
      continue;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  currentPool = nullptr;
}

}  // namespace vistrelle::dispatch
