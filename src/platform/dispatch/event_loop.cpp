#include "platform/dispatch/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vistrelle::dispatch {

namespace {

constexpr uint64_t kWakeToken = ~0ull;
constexpr uint64_t kTimerToken = ~0ull - 1;

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

uint64_t makeToken(uint32_t slot, uint32_t generation) {
  return (static_cast<uint64_t>(slot) << 32) | generation;
}

}  // namespace

EventLoop::EventLoop(std::string label)
    : label_(std::move(label)),
      link_(std::make_shared<EventLoopLink>()),
      epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  link_->loop = this;
  if (!epoll_ || !wakeFd_ || !timerFd_) throwErrno("event loop set-up");
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeToken;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wakeFd_.get(), &ev) != 0) throwErrno("epoll_ctl");
  ev.data.u64 = kTimerToken;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, timerFd_.get(), &ev) != 0) throwErrno("epoll_ctl");
}

EventLoop::~EventLoop() {
  std::unique_lock lock(link_->mutex);
  link_->loop = nullptr;
}

void EventLoop::wake() {
  if (wakePending_.exchange(true, std::memory_order_acq_rel)) return;
  uint64_t one = 1;
  while (::write(wakeFd_.get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventLoop::post(Task task) {
  {
    std::lock_guard lock(taskMutex_);
    tasks_.push_back(std::move(task));
  }
  wake();
}

DelayedTask EventLoop::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  std::lock_guard lock(timerMutex_);
  timers_.push(deadline, std::move(guarded), handle);
  if (armedDeadline_.count() < 0 || deadline < armedDeadline_) armTimerFd(deadline);
  return handle;
}

void EventLoop::armTimerFd(TimePoint deadline) {
  // Zero would disarm the timer; a deadline in the past fires at once.
  int64_t ns = std::max<int64_t>(deadline.count(), 1);
  itimerspec spec{};
  spec.it_value.tv_sec = ns / 1'000'000'000;
  spec.it_value.tv_nsec = ns % 1'000'000'000;
  if (timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
    throwErrno("timerfd_settime");
  }
  armedDeadline_ = deadline;
}

TimePoint EventLoop::now() const {
  return SteadyClock::monotonicNow();
}

bool EventLoop::isCurrent() const {
  return owner_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void EventLoop::quit(int status) {
  status_ = status;
  quit_.store(true, std::memory_order_release);
  // A quit from inside a task must end run() even though the wake flag may
  // already be set by an earlier post.
  uint64_t one = 1;
  while (::write(wakeFd_.get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventLoop::runPostedTasks() {
  std::deque<Task> batch;
  {
    std::lock_guard lock(taskMutex_);
    batch.swap(tasks_);
  }
  for (auto& task : batch) {
    task();
  }
}

void EventLoop::runDueTimers() {
  for (;;) {
    Task task;
    {
      std::lock_guard lock(timerMutex_);
      if (!timers_.popDue(now(), task)) {
        if (timers_.empty()) {
          armedDeadline_ = TimePoint(-1);
        } else {
          armTimerFd(timers_.earliest());
        }
        return;
      }
    }
    task();
  }
}

int EventLoop::run() {
  struct OwnerScope {
    std::atomic<std::thread::id>& owner;
    explicit OwnerScope(std::atomic<std::thread::id>& o) : owner(o) {
      owner.store(std::this_thread::get_id(), std::memory_order_release);
    }
    ~OwnerScope() { owner.store(std::thread::id(), std::memory_order_release); }
  } ownerScope(owner_);
  epoll_event events[128];
  while (!quit_.load(std::memory_order_acquire)) {
    int n = epoll_wait(epoll_.get(), events, 128, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno("epoll_wait");
    }
    bool woken = false;
    bool timerFired = false;
    for (int i = 0; i < n; ++i) {
      uint64_t token = events[i].data.u64;
      if (token == kWakeToken) {
        woken = true;
      } else if (token == kTimerToken) {
        timerFired = true;
      } else {
        dispatchEvent(token, events[i].events);
      }
    }
    if (woken) {
      uint64_t count;
      while (::read(wakeFd_.get(), &count, sizeof count) < 0 && errno == EINTR) {
      }
      wakePending_.store(false, std::memory_order_release);
      runPostedTasks();
    }
    if (timerFired) {
      uint64_t expirations;
      (void)!::read(timerFd_.get(), &expirations, sizeof expirations);
      runDueTimers();
    }
  }
  // A quit() that came before run() ends it at once; consume it so the loop
  // can run again.
  quit_.store(false, std::memory_order_release);
  return status_;
}

IoSourcePtr EventLoop::makeSource(int fd, IoKind kind, ExecutorPtr queue) {
  if (fd < 0) throw std::invalid_argument("makeSource: negative descriptor");
  if (!queue) throw std::invalid_argument("makeSource: no queue");
  IoSourcePtr source(new IoSource(link_, fd, kind, std::move(queue)));
  std::lock_guard lock(sourceMutex_);
  uint32_t slot;
  auto found = slotByFd_.find(fd);
  if (found != slotByFd_.end()) {
    slot = found->second;
    FdEntry& entry = entries_[slot];
    auto& same = kind == IoKind::Read ? entry.reader : entry.writer;
    if (!same.expired()) throw std::logic_error("makeSource: descriptor already has such a source");
    same = source;
  } else {
    if (freeSlots_.empty()) {
      slot = static_cast<uint32_t>(entries_.size());
      entries_.emplace_back();
    } else {
      slot = freeSlots_.back();
      freeSlots_.pop_back();
    }
    FdEntry& entry = entries_[slot];
    entry.fd = fd;
    entry.inUse = true;
    (kind == IoKind::Read ? entry.reader : entry.writer) = source;
    epoll_event ev{};
    ev.events = EPOLLONESHOT;
    ev.data.u64 = makeToken(slot, entry.generation);
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) {
      int error = errno;
      entry = FdEntry{-1, entry.generation + 1, false, {}, {}};
      freeSlots_.push_back(slot);
      errno = error;
      throwErrno("epoll_ctl(ADD)");
    }
    slotByFd_[fd] = slot;
  }
  source->slot_ = slot;
  source->generation_ = entries_[slot].generation;
  return source;
}

void EventLoop::updateInterest(uint32_t slot, uint32_t generation) {
  IoSourcePtr reader, writer;  // released after the lock
  std::lock_guard lock(sourceMutex_);
  if (slot >= entries_.size()) return;
  FdEntry& entry = entries_[slot];
  if (!entry.inUse || entry.generation != generation) return;
  reader = entry.reader.lock();
  writer = entry.writer.lock();
  uint32_t mask = 0;
  if (reader && reader->armed_ && !reader->isCancelled()) mask |= EPOLLIN | EPOLLRDHUP;
  if (writer && writer->armed_ && !writer->isCancelled()) mask |= EPOLLOUT;
  // Nothing armed: the one-shot registration has fired and stays disabled.  A
  // modification, even to an empty set, would re-enable the hang-up and error
  // conditions the kernel always reports, and a closed peer of a suspended or
  // busy source would then wake this loop without end.  Whoever arms a source
  // next re-enables it.
  if (mask == 0) return;
  epoll_event ev{};
  ev.events = mask | EPOLLONESHOT;
  ev.data.u64 = makeToken(slot, generation);
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, entry.fd, &ev) != 0 && errno == ENOENT) {
    // The descriptor was closed and reopened under the same number without
    // cancelling its sources first; register the new one.
    epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, entry.fd, &ev);
  }
}

void EventLoop::removeSource(uint32_t slot, uint32_t generation, IoKind kind) {
  IoSourcePtr keep;
  std::lock_guard lock(sourceMutex_);
  if (slot >= entries_.size()) return;
  FdEntry& entry = entries_[slot];
  if (!entry.inUse || entry.generation != generation) return;
  auto& own = kind == IoKind::Read ? entry.reader : entry.writer;
  own.reset();
  auto& other = kind == IoKind::Read ? entry.writer : entry.reader;
  keep = other.lock();
  if (!keep || keep->isCancelled()) {
    // Failure only means the descriptor is already closed, which also removed it.
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, entry.fd, nullptr);
    slotByFd_.erase(entry.fd);
    entry = FdEntry{-1, entry.generation + 1, false, {}, {}};
    freeSlots_.push_back(slot);
    return;
  }
  uint32_t mask = EPOLLONESHOT;
  if (keep->armed_) mask |= kind == IoKind::Read ? EPOLLOUT : (EPOLLIN | EPOLLRDHUP);
  epoll_event ev{};
  ev.events = mask;
  ev.data.u64 = makeToken(slot, generation);
  epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, entry.fd, &ev);
}

void EventLoop::dispatchEvent(uint64_t token, uint32_t events) {
  uint32_t slot = static_cast<uint32_t>(token >> 32);
  uint32_t generation = static_cast<uint32_t>(token);
  IoSourcePtr reader, writer;
  {
    std::lock_guard lock(sourceMutex_);
    if (slot >= entries_.size()) return;
    FdEntry& entry = entries_[slot];
    if (!entry.inUse || entry.generation != generation) return;  // stale
    reader = entry.reader.lock();
    writer = entry.writer.lock();
  }
  uint32_t flags = 0;
  if (events & (EPOLLIN | EPOLLRDHUP)) flags |= IoSource::kReadable;
  if (events & EPOLLOUT) flags |= IoSource::kWritable;
  if (events & EPOLLERR) flags |= IoSource::kError;
  if (events & EPOLLHUP) flags |= IoSource::kHangup;
  const uint32_t failure = IoSource::kError | IoSource::kHangup;
  if (reader && (flags & (IoSource::kReadable | failure))) reader->schedule(flags);
  if (writer && (flags & (IoSource::kWritable | failure))) writer->schedule(flags);
  // One-shot registration: re-enable whatever is still armed.  Usually nothing
  // is (the sources just went in flight), and skipping the call spares a lock
  // that the delivering thread wants at this very moment.
  const bool stillArmed = (reader && reader->armed_) || (writer && writer->armed_);
  if (stillArmed) updateInterest(slot, generation);
}

}  // namespace vistrelle::dispatch
