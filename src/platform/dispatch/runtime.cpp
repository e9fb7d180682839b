#include "platform/dispatch/runtime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/dispatch/stop_list.h"

namespace vistrelle::dispatch {

namespace {
std::atomic<Runtime*> installedRuntime{nullptr};
}

Runtime::Runtime(std::shared_ptr<MainQueue> mainQueue, Options options)
    : stops_(std::make_shared<StopList>()),
      main_(std::move(mainQueue)),
      reactor_(std::make_unique<Reactor>()) {
  size_t workers = options.workers;
  if (workers == 0) workers = std::max<size_t>(4, std::thread::hardware_concurrency());
  pool_ = std::make_shared<ThreadPool>(workers);
  Runtime* expected = nullptr;
  if (!installedRuntime.compare_exchange_strong(expected, this)) {
    std::fputs("dispatch::Runtime: a runtime is already installed\n", stderr);
    std::abort();
  }
}

Runtime::~Runtime() {
  stop();
  installedRuntime.store(nullptr);
}

StopRegistration Runtime::registerStop(std::string name, std::function<void()> stop) {
  return stops_->add(std::move(name), std::move(stop));
}

void Runtime::runStops() {
  stops_->runAll();
}

void Runtime::stop() {
  // The subsystems first, while the queues they stop on still run.
  runStops();
  // Deadlines next, so no timer posts into a pool that is going away.
  reactor_->stop();
  pool_->stop();
}

Runtime& Runtime::shared() {
  Runtime* runtime = installedRuntime.load();
  if (!runtime) {
    std::fputs("dispatch::Runtime::shared(): no runtime installed\n", stderr);
    std::abort();
  }
  return *runtime;
}

bool Runtime::installed() {
  return installedRuntime.load() != nullptr;
}

SerialQueuePtr Runtime::makeSerialQueue(std::string label) const {
  return SerialQueue::create(std::move(label), pool_);
}

std::shared_ptr<MainQueue> mainQueue() {
  return Runtime::shared().mainQueue();
}
ExecutorPtr globalQueue() {
  return Runtime::shared().globalQueue();
}
SerialQueuePtr makeSerialQueue(std::string label) {
  return Runtime::shared().makeSerialQueue(std::move(label));
}

}  // namespace vistrelle::dispatch
