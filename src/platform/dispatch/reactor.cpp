#include "platform/dispatch/reactor.h"

namespace vistrelle::dispatch {

Reactor::Reactor() : loop_("reactor") {
  thread_ = std::thread([this] { loop_.run(); });
}

Reactor::~Reactor() {
  stop();
}

void Reactor::stop() {
  if (!thread_.joinable()) return;
  loop_.quit();
  thread_.join();
}

IoSourcePtr Reactor::makeReadSource(int fd, ExecutorPtr queue) {
  return loop_.makeSource(fd, IoKind::Read, std::move(queue));
}

IoSourcePtr Reactor::makeWriteSource(int fd, ExecutorPtr queue) {
  return loop_.makeSource(fd, IoKind::Write, std::move(queue));
}

DelayedTask Reactor::schedule(TimePoint deadline, Task task) {
  return loop_.postAt(deadline, std::move(task));
}

}  // namespace vistrelle::dispatch
