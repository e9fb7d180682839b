#include "platform/bus/fake/fake_bus.h"

#include <algorithm>

namespace vistrelle::bus {

std::shared_ptr<FakeBus> FakeBus::create(BusKind kind, dispatch::ExecutorPtr timeoutQueue) {
  return std::shared_ptr<FakeBus>(new FakeBus(kind, std::move(timeoutQueue)));
}

FakeBus::FakeBus(BusKind kind, dispatch::ExecutorPtr timeoutQueue)
    : kind_(kind), timeoutQueue_(std::move(timeoutQueue)) {}

void FakeBus::deliver(const dispatch::ExecutorPtr& queue, ReplyHandler handler, Reply reply) {
  queue->post([handler = std::move(handler), reply = std::move(reply)]() mutable {
    handler(std::move(reply));
  });
}

std::vector<BusMethodCall> FakeBus::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

size_t FakeBus::pendingCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

bool FakeBus::answerNext(Reply reply) {
  Waiting waiting;
  {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return false;
    waiting = std::move(waiting_.front());
    waiting_.erase(waiting_.begin());
  }
  waiting.timeout.cancel();
  deliver(waiting.queue, std::move(waiting.handler), std::move(reply));
  return true;
}

void FakeBus::respond(std::string interface, std::string member, Responder responder) {
  std::lock_guard lock(mutex_);
  responders_[{std::move(interface), std::move(member)}] = std::move(responder);
}

void FakeBus::setProperty(std::string path, std::string interface, std::string name,
                          BusValue value) {
  std::lock_guard lock(mutex_);
  properties_[{std::move(path), std::move(interface), std::move(name)}] = std::move(value);
}

std::vector<BusSignal> FakeBus::emitted() const {
  std::lock_guard lock(mutex_);
  return emitted_;
}

void FakeBus::raise(const BusSignal& signal) {
  std::vector<Subscriber> receivers;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    for (const Subscriber& subscriber : subscribers_) {
      if (subscriber.match.matchesIgnoringSender(signal) &&
          (subscriber.match.sender.empty() || subscriber.match.sender == signal.sender))
        receivers.push_back(subscriber);
    }
  }
  for (Subscriber& receiver : receivers) {
    receiver.queue->post([cancelled = receiver.cancelled, handler = receiver.handler, signal] {
      if (!cancelled->load(std::memory_order_acquire)) handler(signal);
    });
  }
}

size_t FakeBus::subscriptionCount() const {
  std::lock_guard lock(mutex_);
  return subscribers_.size();
}

bool FakeBus::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void FakeBus::call(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) {
  if (auto reason = call.invalidReason())
    return deliver(queue, std::move(onReply),
                   BusError::make(BusError::Code::InvalidArgument, *reason));
  Responder responder;
  std::optional<BusValue> property;
  uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (!open_)
      return deliver(queue, std::move(onReply),
                     BusError::make(BusError::Code::Disconnected, "the bus is closed"));
    calls_.push_back(call);
    if (call.interface == "org.freedesktop.DBus.Properties" && call.member == "Get" &&
        call.args.size() == 2 && call.args[0].asString() && call.args[1].asString()) {
      auto found =
          properties_.find({call.path, *call.args[0].asString(), *call.args[1].asString()});
      if (found != properties_.end()) property = found->second;
    }
    if (!property) {
      auto found = responders_.find({call.interface, call.member});
      if (found != responders_.end()) responder = found->second;
    }
    if (!property && !responder) {
      id = nextId_++;
      waiting_.push_back(Waiting{id, queue, std::move(onReply), {}});
    }
  }
  if (property) return deliver(queue, std::move(onReply), Reply({BusValue::variant(*property)}));
  if (responder) return deliver(queue, std::move(onReply), responder(call));
  if (timeoutQueue_) {
    dispatch::DelayedTask timeout =
        timeoutQueue_->postAfter(call.timeout, [weak = weak_from_this(), id] {
          if (auto self = weak.lock()) self->expire(id);
        });
    std::lock_guard lock(mutex_);
    for (Waiting& waiting : waiting_) {
      if (waiting.id == id) waiting.timeout = timeout;
    }
  }
}

void FakeBus::expire(uint64_t id) {
  Waiting expired;
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(waiting_.begin(), waiting_.end(),
                              [id](const Waiting& waiting) { return waiting.id == id; });
    if (found == waiting_.end()) return;
    expired = std::move(*found);
    waiting_.erase(found);
  }
  deliver(expired.queue, std::move(expired.handler),
          BusError::make(BusError::Code::Timeout, "no answer in time",
                         "org.freedesktop.DBus.Error.NoReply"));
}

BusResult<void> FakeBus::emitSignal(BusSignal signal) {
  if (auto reason = signal.invalidReason())
    return BusError::make(BusError::Code::InvalidArgument, *reason);
  std::lock_guard lock(mutex_);
  if (!open_) return BusError::make(BusError::Code::Disconnected, "the bus is closed");
  emitted_.push_back(std::move(signal));
  return {};
}

BusResult<BusSubscription> FakeBus::subscribe(BusSignalMatch match, dispatch::ExecutorPtr queue,
                                              SignalHandler onSignal) {
  if (auto reason = match.invalidReason())
    return BusError::make(BusError::Code::InvalidArgument, *reason);
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return BusError::make(BusError::Code::Disconnected, "the bus is closed");
    id = nextId_++;
    subscribers_.push_back(
        Subscriber{id, std::move(match), std::move(queue), std::move(onSignal), cancelled});
  }
  return BusSubscription([weak = weak_from_this(), id, cancelled] {
    cancelled->store(true, std::memory_order_release);
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->mutex_);
      std::erase_if(self->subscribers_, [id](const Subscriber& s) { return s.id == id; });
    }
  });
}

void FakeBus::close() {
  std::vector<Waiting> dropped;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    dropped.swap(waiting_);
    for (Subscriber& subscriber : subscribers_) subscriber.cancelled->store(true);
    subscribers_.clear();
  }
  for (Waiting& waiting : dropped) {
    waiting.timeout.cancel();
    deliver(waiting.queue, std::move(waiting.handler),
            BusError::make(BusError::Code::Disconnected, "the bus was closed before the answer"));
  }
}

}  // namespace vistrelle::bus
