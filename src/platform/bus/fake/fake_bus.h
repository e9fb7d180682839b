#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/bus/bus.h"

namespace vistrelle::bus {

// A bus for the unit tests of its callers: it records every call and emitted
// signal, lets the test answer calls (at once through a responder, or later in
// order) and raise signals, and delivers everything on the queues the callers
// name, as the real connection does.  Names, paths and values are checked by
// the same rules.
class FakeBus final : public Bus, public std::enable_shared_from_this<FakeBus> {
 public:
  using Responder = std::function<Reply(const BusMethodCall&)>;

  // With `timeoutQueue` (a VirtualExecutor, say), a call left waiting gets
  // Timeout once its time-out has passed on that executor's clock.
  static std::shared_ptr<FakeBus> create(BusKind kind = BusKind::Session,
                                         dispatch::ExecutorPtr timeoutQueue = nullptr);

  // Every valid call made, in order.
  std::vector<BusMethodCall> calls() const;
  // Calls that wait for the test's answer.
  size_t pendingCount() const;
  // Answers the oldest waiting call; false when none waits.
  bool answerNext(Reply reply);
  // Answers later calls of `interface`.`member` at once.
  void respond(std::string interface, std::string member, Responder responder);
  // Answers org.freedesktop.DBus.Properties.Get of this property with `value`.
  void setProperty(std::string path, std::string interface, std::string name, BusValue value);

  // Every signal emitted, in order.
  std::vector<BusSignal> emitted() const;
  // Delivers `signal` to each matching subscription on its queue; a match that
  // names a sender receives only signals whose `sender` is that text.
  void raise(const BusSignal& signal);
  size_t subscriptionCount() const;

  BusKind kind() const override { return kind_; }
  bool isOpen() const override;
  void call(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) override;
  BusResult<void> emitSignal(BusSignal signal) override;
  BusResult<BusSubscription> subscribe(BusSignalMatch match, dispatch::ExecutorPtr queue,
                                       SignalHandler onSignal) override;
  void close() override;

 protected:
  bool isOwnContext() const override { return false; }

 private:
  struct Waiting {
    uint64_t id;
    dispatch::ExecutorPtr queue;
    ReplyHandler handler;
    dispatch::DelayedTask timeout;
  };
  struct Subscriber {
    uint64_t id;
    BusSignalMatch match;
    dispatch::ExecutorPtr queue;
    SignalHandler handler;
    std::shared_ptr<std::atomic<bool>> cancelled;
  };

  FakeBus(BusKind kind, dispatch::ExecutorPtr timeoutQueue);
  static void deliver(const dispatch::ExecutorPtr& queue, ReplyHandler handler, Reply reply);
  void expire(uint64_t id);

  const BusKind kind_;
  const dispatch::ExecutorPtr timeoutQueue_;
  mutable std::mutex mutex_;
  bool open_ = true;
  uint64_t nextId_ = 1;
  std::vector<BusMethodCall> calls_;
  std::vector<Waiting> waiting_;
  std::map<std::pair<std::string, std::string>, Responder> responders_;
  std::map<std::tuple<std::string, std::string, std::string>, BusValue> properties_;
  std::vector<BusSignal> emitted_;
  std::vector<Subscriber> subscribers_;
};

}  // namespace vistrelle::bus
