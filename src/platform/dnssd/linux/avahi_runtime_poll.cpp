#include "platform/dnssd/linux/avahi_runtime_poll.h"

#include <sys/time.h>

#include <algorithm>
#include <chrono>

#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/reactor.h"

// The poll interface leaves these two types to its implementation.
struct AvahiWatch {
  vistrelle::dnssd::AvahiRuntimePoll* poll;
  int fd;
  AvahiWatchEvent wanted;
  AvahiWatchEvent happened;
  AvahiWatchCallback callback;
  void* userdata;
};

struct AvahiTimeout {
  vistrelle::dnssd::AvahiRuntimePoll* poll;
  AvahiTimeoutCallback callback;
  void* userdata;
  vistrelle::dispatch::DelayedTask task;
};

namespace vistrelle::dnssd {

namespace {

AvahiRuntimePoll* pollOf(const AvahiPoll* api) {
  return static_cast<AvahiRuntimePoll*>(api->userdata);
}

// How long from now until `tv`, a wall-clock time as avahi computes its
// deadlines; never negative.
dispatch::Nanos untilWallClock(const struct timeval& tv) {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  const auto delta = std::chrono::seconds(tv.tv_sec - now.tv_sec) +
                     std::chrono::microseconds(tv.tv_usec - now.tv_usec);
  return std::max(dispatch::Nanos(0), std::chrono::duration_cast<dispatch::Nanos>(delta));
}

}  // namespace

AvahiRuntimePoll::AvahiRuntimePoll(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor)
    : queue_(std::move(queue)), reactor_(reactor) {
  api_.userdata = this;
  api_.watch_new = &AvahiRuntimePoll::watchNew;
  api_.watch_update = &AvahiRuntimePoll::watchUpdate;
  api_.watch_get_events = &AvahiRuntimePoll::watchGetEvents;
  api_.watch_free = &AvahiRuntimePoll::watchFree;
  api_.timeout_new = &AvahiRuntimePoll::timeoutNew;
  api_.timeout_update = &AvahiRuntimePoll::timeoutUpdate;
  api_.timeout_free = &AvahiRuntimePoll::timeoutFree;
}

AvahiRuntimePoll::~AvahiRuntimePoll() {
  // Whatever the client left behind: no handler or task may reach us later.
  for (auto& [fd, descriptor] : descriptors_) {
    descriptor.reader->cancel();
    descriptor.writer->cancel();
  }
  for (auto& [watch, id] : watches_) delete watch;
  for (auto& [timeout, id] : timeouts_) {
    timeout->task.cancel();
    delete timeout;
  }
}

AvahiRuntimePoll::Descriptor& AvahiRuntimePoll::descriptorFor(int fd) {
  auto found = descriptors_.find(fd);
  if (found != descriptors_.end()) return found->second;
  Descriptor descriptor;
  descriptor.reader = reactor_.makeReadSource(fd, queue_);
  descriptor.writer = reactor_.makeWriteSource(fd, queue_);
  descriptor.reader->setEventHandler([this, fd] { dispatch(fd, dispatch::IoKind::Read); });
  descriptor.writer->setEventHandler([this, fd] { dispatch(fd, dispatch::IoKind::Write); });
  return descriptors_.emplace(fd, std::move(descriptor)).first->second;
}

void AvahiRuntimePoll::refresh(int fd) {
  auto found = descriptors_.find(fd);
  if (found == descriptors_.end()) return;
  Descriptor& descriptor = found->second;
  if (descriptor.watches.empty()) {
    // The owner closes the descriptor after freeing its last watch.
    descriptor.reader->cancel();
    descriptor.writer->cancel();
    descriptors_.erase(found);
    return;
  }
  bool read = false;
  bool write = false;
  for (AvahiWatch* watch : descriptor.watches) {
    read = read || (watch->wanted & AVAHI_WATCH_IN);
    write = write || (watch->wanted & AVAHI_WATCH_OUT);
  }
  if (read != descriptor.reading) {
    read ? descriptor.reader->resume() : descriptor.reader->suspend();
    descriptor.reading = read;
  }
  if (write != descriptor.writing) {
    write ? descriptor.writer->resume() : descriptor.writer->suspend();
    descriptor.writing = write;
  }
}

void AvahiRuntimePoll::dispatch(int fd, dispatch::IoKind kind) {
  auto found = descriptors_.find(fd);
  if (found == descriptors_.end()) return;
  const dispatch::IoSourcePtr& source =
      kind == dispatch::IoKind::Read ? found->second.reader : found->second.writer;
  const int ready = kind == dispatch::IoKind::Read ? AVAHI_WATCH_IN : AVAHI_WATCH_OUT;
  int flags = ready;
  if (source->hangup()) flags |= AVAHI_WATCH_HUP;
  if (source->error()) flags |= AVAHI_WATCH_ERR;

  // A callback may free or add watches, on this descriptor too.
  std::vector<std::pair<AvahiWatch*, uint64_t>> targets;
  for (AvahiWatch* watch : found->second.watches) targets.emplace_back(watch, watches_.at(watch));
  for (auto [watch, id] : targets) {
    auto live = watches_.find(watch);
    if (live == watches_.end() || live->second != id || !(watch->wanted & ready)) continue;
    watch->happened = static_cast<AvahiWatchEvent>(flags);
    watch->callback(watch, fd, watch->happened, watch->userdata);
  }
}

AvahiWatch* AvahiRuntimePoll::watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                                       AvahiWatchCallback callback, void* userdata) {
  AvahiRuntimePoll* self = pollOf(api);
  Descriptor* descriptor;
  try {
    descriptor = &self->descriptorFor(fd);
  } catch (const std::exception&) {
    return nullptr;  // avahi reports the failure as out of memory
  }
  auto* watch =
      new AvahiWatch{self, fd, events, static_cast<AvahiWatchEvent>(0), callback, userdata};
  self->watches_.emplace(watch, self->nextId_++);
  descriptor->watches.push_back(watch);
  self->refresh(fd);
  return watch;
}

void AvahiRuntimePoll::watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) {
  watch->wanted = events;
  watch->poll->refresh(watch->fd);
}

AvahiWatchEvent AvahiRuntimePoll::watchGetEvents(AvahiWatch* watch) {
  return watch->happened;
}

void AvahiRuntimePoll::watchFree(AvahiWatch* watch) {
  AvahiRuntimePoll* self = watch->poll;
  const int fd = watch->fd;
  if (auto found = self->descriptors_.find(fd); found != self->descriptors_.end()) {
    auto& list = found->second.watches;
    list.erase(std::remove(list.begin(), list.end(), watch), list.end());
  }
  self->watches_.erase(watch);
  delete watch;
  self->refresh(fd);
}

AvahiTimeout* AvahiRuntimePoll::timeoutNew(const AvahiPoll* api, const struct timeval* tv,
                                           AvahiTimeoutCallback callback, void* userdata) {
  AvahiRuntimePoll* self = pollOf(api);
  auto* timeout = new AvahiTimeout{self, callback, userdata, {}};
  self->timeouts_.emplace(timeout, self->nextId_++);
  self->arm(timeout, tv);
  return timeout;
}

void AvahiRuntimePoll::timeoutUpdate(AvahiTimeout* timeout, const struct timeval* tv) {
  timeout->poll->arm(timeout, tv);
}

void AvahiRuntimePoll::timeoutFree(AvahiTimeout* timeout) {
  timeout->task.cancel();
  timeout->poll->timeouts_.erase(timeout);
  delete timeout;
}

void AvahiRuntimePoll::arm(AvahiTimeout* timeout, const struct timeval* tv) {
  timeout->task.cancel();
  timeout->task = {};
  if (!tv) return;  // disabled
  const uint64_t id = timeouts_.at(timeout);
  timeout->task = queue_->postAt(queue_->now() + untilWallClock(*tv),
                                 [this, timeout, id] { fire(timeout, id); });
}

void AvahiRuntimePoll::fire(AvahiTimeout* timeout, uint64_t id) {
  auto live = timeouts_.find(timeout);
  if (live == timeouts_.end() || live->second != id) return;
  // One-shot: avahi re-arms it with timeout_update when it wants it again.
  timeout->task = {};
  timeout->callback(timeout, timeout->userdata);
}

}  // namespace vistrelle::dnssd
