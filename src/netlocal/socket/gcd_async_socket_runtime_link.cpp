#include "netlocal/socket/gcd_async_socket_runtime_link.h"

#include "platform/dispatch/executor.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal {

GCDAsyncSocketRuntimeLink::GCDAsyncSocketRuntimeLink(dispatch::Runtime& runtime)
    : reactor_(&runtime.reactor()), pool_(runtime.pool()) {}

dispatch::StopRegistration GCDAsyncSocketRuntimeLink::registerStop(
    dispatch::Runtime& runtime, const std::shared_ptr<GCDAsyncSocketRuntimeLink>& link,
    std::function<void()> closeSocket) {
  return runtime.registerStop("GCDAsyncSocket", [link, closeSocket = std::move(closeSocket)] {
    closeSocket();
    link->markStopped();
  });
}

bool GCDAsyncSocketRuntimeLink::whileLive(const std::function<void()>& task) {
  std::lock_guard lock(mutex_);
  if (!live()) return false;
  task();
  return true;
}

bool GCDAsyncSocketRuntimeLink::postWhileLive(const std::shared_ptr<dispatch::Executor>& queue,
                                              std::function<void()> task) {
  return whileLive([&] { queue->post(std::move(task)); });
}

void GCDAsyncSocketRuntimeLink::markStopped() {
  std::lock_guard lock(mutex_);
  live_.store(false, std::memory_order_release);
}

}  // namespace vistrelle::netlocal
