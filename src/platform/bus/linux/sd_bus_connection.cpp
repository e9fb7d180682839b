#include "platform/bus/linux/sd_bus_connection.h"

#include <poll.h>

#include <cstdlib>
#include <cstring>

#include "platform/bus/linux/sd_bus_message_codec.h"
#include "platform/dispatch/clock.h"

namespace vistrelle::bus {

namespace {

// Messages handled per turn on the queue before it yields its pool thread.
constexpr int kMessagesPerTurn = 64;
// How long close() waits for the daemon to confirm that the signals sent
// before it (one emitted just before, say) are routed.
constexpr std::chrono::milliseconds kCloseSettle{250};

std::string errnoText(int r) {
  return std::strerror(r < 0 ? -r : r);
}

BusError sendError(int r, const std::string& what) {
  if (r == -ENOTCONN || r == -ECONNRESET)
    return BusError::make(BusError::Code::Disconnected, what + ": the bus is closed");
  return BusError::make(BusError::Code::InvalidArgument, what + ": " + errnoText(r));
}

}  // namespace

struct SdBusConnection::PendingCall {
  dispatch::ExecutorPtr queue;
  ReplyHandler handler;
  dispatch::TimePoint deadline;
  bool answered = false;

  void deliver(Reply reply) {
    answered = true;
    queue->post([handler = std::move(handler), reply = std::move(reply)]() mutable {
      handler(std::move(reply));
    });
  }
};

struct SdBusConnection::Subscriber : std::enable_shared_from_this<Subscriber> {
  Subscriber(dispatch::ExecutorPtr queue, SignalHandler handler)
      : queue(std::move(queue)), handler(std::move(handler)) {}
  const dispatch::ExecutorPtr queue;
  const SignalHandler handler;
  std::atomic<bool> cancelled{false};
};

BusResult<std::string> SdBusConnection::addressFor(BusKind kind) {
  if (kind == BusKind::Session) {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
      return std::string(address);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
      return "unix:path=" + std::string(runtime) + "/bus";
    return BusError::make(BusError::Code::NoBus,
                          "no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR "
                          "is set");
  }
  if (const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); address && *address)
    return std::string(address);
  return std::string("unix:path=/run/dbus/system_bus_socket");
}

BusResult<std::shared_ptr<SdBusConnection>> SdBusConnection::open(BusKind kind,
                                                                  const std::string& address,
                                                                  dispatch::Reactor& reactor,
                                                                  dispatch::SerialQueuePtr queue) {
  const std::string where = std::string("no ") + busKindName(kind) + " bus at " + address;
  sd_bus* raw = nullptr;
  int r = sd_bus_new(&raw);
  if (r < 0) return BusError::make(BusError::Code::NoBus, where + ": " + errnoText(r));
  SdBusPtr bus(raw);
  r = sd_bus_set_address(bus.get(), address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus.get(), 1);
  if (r >= 0) r = sd_bus_negotiate_fds(bus.get(), 1);
  if (r >= 0) r = sd_bus_set_description(bus.get(), busKindName(kind));
  // Connects now (a local socket answers at once); the handshake and Hello
  // continue on the queue.
  if (r >= 0) r = sd_bus_start(bus.get());
  if (r < 0) return BusError::make(BusError::Code::NoBus, where + ": " + errnoText(r));
  std::shared_ptr<SdBusConnection> connection(
      new SdBusConnection(kind, std::move(queue), std::move(bus)));
  connection->start(reactor);
  return connection;
}

SdBusConnection::SdBusConnection(BusKind kind, dispatch::SerialQueuePtr queue, SdBusPtr bus)
    : kind_(kind), queue_(std::move(queue)), bus_(std::move(bus)) {}

SdBusConnection::~SdBusConnection() {
  // No task of the queue holds this object any more (they hold it only while
  // they run), so the sd-bus object is ours alone here.
  teardown();
}

void SdBusConnection::start(dispatch::Reactor& reactor) {
  const int fd = sd_bus_get_fd(bus_.get());
  std::weak_ptr<SdBusConnection> weak = weak_from_this();
  auto onReady = [weak] {
    if (auto self = weak.lock()) self->pump();
  };
  reader_ = reactor.makeReadSource(fd, queue_);
  reader_->setEventHandler(onReady);
  writer_ = reactor.makeWriteSource(fd, queue_);
  writer_->setEventHandler(onReady);
  // The first turn says Hello and arms the sources as sd-bus asks.
  queue_->post(onReady);
}

void SdBusConnection::pump() {
  for (int done = 0; done < kMessagesPerTurn; ++done) {
    if (!bus_) return;
    const int r = sd_bus_process(bus_.get(), nullptr);
    if (r < 0) {
      // Closed after a loss: sd-bus has already failed the waiting calls.
      teardown();
      return;
    }
    if (r == 0) {
      rearm();
      return;
    }
  }
  queue_->post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->pump();
  });
}

void SdBusConnection::rearm() {
  if (!bus_) return;
  const int events = sd_bus_get_events(bus_.get());
  if (events < 0) {
    teardown();
    return;
  }
  auto want = [](const dispatch::IoSourcePtr& source, bool& active, bool wanted) {
    if (wanted == active) return;
    active = wanted;
    if (wanted) {
      source->resume();
    } else {
      source->suspend();
    }
  };
  want(reader_, reading_, (events & POLLIN) != 0);
  want(writer_, writing_, (events & POLLOUT) != 0);

  uint64_t usec = UINT64_MAX;
  if (sd_bus_get_timeout(bus_.get(), &usec) < 0) usec = UINT64_MAX;
  if (usec == UINT64_MAX) {
    wakeUp_.cancel();
    wakeUpAt_.reset();
    return;
  }
  if (wakeUpAt_ == usec) return;
  wakeUp_.cancel();
  wakeUpAt_ = usec;
  // sd-bus's deadlines are CLOCK_MONOTONIC, as the queue's are.
  const dispatch::TimePoint deadline{static_cast<int64_t>(usec) * 1000};
  wakeUp_ = queue_->postAt(deadline, [weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->wakeUpAt_.reset();
      self->pump();
    }
  });
}

void SdBusConnection::call(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) {
  auto fail = [&](BusError error) {
    queue->post([onReply = std::move(onReply), error = std::move(error)] { onReply(error); });
  };
  if (auto reason = call.invalidReason())
    return fail(BusError::make(BusError::Code::InvalidArgument, *reason));
  if (!isOpen()) return fail(BusError::make(BusError::Code::Disconnected, "the bus is closed"));
  queue_->post([weak = weak_from_this(), call = std::move(call), queue = std::move(queue),
                onReply = std::move(onReply)]() mutable {
    auto self = weak.lock();
    if (!self || !self->bus_) {
      queue->post([onReply = std::move(onReply)] {
        onReply(BusError::make(BusError::Code::Disconnected, "the bus is closed"));
      });
      return;
    }
    self->send(std::move(call), std::move(queue), std::move(onReply));
  });
}

void SdBusConnection::send(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) {
  auto pending = std::make_unique<PendingCall>();
  pending->queue = std::move(queue);
  pending->handler = std::move(onReply);
  pending->deadline = dispatch::SteadyClock::monotonicNow() + call.timeout;

  sd_bus_message* raw = nullptr;
  int r =
      sd_bus_message_new_method_call(bus_.get(), &raw, call.destination.c_str(), call.path.c_str(),
                                     call.interface.c_str(), call.member.c_str());
  if (r < 0) return pending->deliver(sendError(r, "call not built"));
  SdBusMessagePtr message(raw);
  if (BusResult<void> appended = SdBusMessageCodec::append(message.get(), call.args);
      !appended.ok())
    return pending->deliver(appended.error());

  const auto usec = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(call.timeout).count());
  sd_bus_slot* slot = nullptr;
  r = sd_bus_call_async(bus_.get(), &slot, message.get(), &SdBusConnection::onReply, pending.get(),
                        usec);
  if (r < 0) return pending->deliver(sendError(r, "call not sent"));
  // The slot now owns the pending call: its destroy callback answers a call
  // the connection drops unanswered.  Floating, the slot lives with the bus.
  sd_bus_slot_set_destroy_callback(slot, &SdBusConnection::onCallGone);
  pending.release();
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
  rearm();
}

int SdBusConnection::onReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<PendingCall*>(userdata);
  if (sd_bus_message_is_method_error(message, nullptr)) {
    const sd_bus_error* error = sd_bus_message_get_error(message);
    const std::string name = error && error->name ? error->name : "";
    const std::string text = error && error->message ? error->message : "";
    if (name == SD_BUS_ERROR_NO_REPLY) {
      // sd-bus fails the waiting calls itself, with this error, both when the
      // time-out passes and when the connection is lost.
      if (!sd_bus_is_open(sd_bus_message_get_bus(message))) {
        pending->deliver(BusError::make(BusError::Code::Disconnected,
                                        "the connection was lost before the answer"));
        return 1;
      }
      if (dispatch::SteadyClock::monotonicNow() >= pending->deadline) {
        pending->deliver(BusError::make(BusError::Code::Timeout, "no answer in time", name));
        return 1;
      }
    }
    pending->deliver(BusError::make(BusError::Code::Remote, text, name));
    return 1;
  }
  BusResult<std::vector<BusValue>> args = SdBusMessageCodec::read(message);
  pending->deliver(std::move(args));
  return 1;
}

void SdBusConnection::onCallGone(void* userdata) {
  std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(userdata));
  if (!pending->answered)
    pending->deliver(
        BusError::make(BusError::Code::Disconnected, "the bus was closed before the answer"));
}

BusResult<void> SdBusConnection::emitSignal(BusSignal signal) {
  if (auto reason = signal.invalidReason())
    return BusError::make(BusError::Code::InvalidArgument, *reason);
  if (!isOpen()) return BusError::make(BusError::Code::Disconnected, "the bus is closed");
  queue_->post([weak = weak_from_this(), signal = std::move(signal)] {
    if (auto self = weak.lock()) self->sendSignal(signal);
  });
  return {};
}

void SdBusConnection::sendSignal(const BusSignal& signal) {
  if (!bus_) return;
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_signal(bus_.get(), &raw, signal.path.c_str(), signal.interface.c_str(),
                                signal.member.c_str()) < 0)
    return;
  SdBusMessagePtr message(raw);
  if (!SdBusMessageCodec::append(message.get(), signal.args).ok()) return;
  if (sd_bus_send(bus_.get(), message.get(), nullptr) >= 0) signalsSent_ = true;
  rearm();
}

BusResult<BusSubscription> SdBusConnection::subscribe(BusSignalMatch match,
                                                      dispatch::ExecutorPtr queue,
                                                      SignalHandler onSignal) {
  if (auto reason = match.invalidReason())
    return BusError::make(BusError::Code::InvalidArgument, *reason);
  if (!isOpen()) return BusError::make(BusError::Code::Disconnected, "the bus is closed");
  auto subscriber = std::make_shared<Subscriber>(std::move(queue), std::move(onSignal));
  const uint64_t id = nextSubscription_.fetch_add(1, std::memory_order_relaxed);
  std::weak_ptr<SdBusConnection> weak = weak_from_this();
  queue_->post([weak, id, match = std::move(match), subscriber] {
    if (auto self = weak.lock()) self->addMatch(id, match, subscriber);
  });
  return BusSubscription([weak, id, subscriber] {
    subscriber->cancelled.store(true, std::memory_order_release);
    if (auto self = weak.lock(); self && self->isOpen()) {
      self->queue_->post([weak, id] {
        if (auto self = weak.lock()) self->subscriptions_.erase(id);
      });
    }
  });
}

void SdBusConnection::addMatch(uint64_t id, const BusSignalMatch& match,
                               std::shared_ptr<Subscriber> subscriber) {
  if (!bus_ || subscriber->cancelled.load(std::memory_order_acquire)) return;
  sd_bus_slot* slot = nullptr;
  // Asynchronous: the daemon installs the rule while the queue goes on.
  if (sd_bus_add_match_async(bus_.get(), &slot, match.rule().c_str(), &SdBusConnection::onSignal,
                             &SdBusConnection::onMatchInstalled, subscriber.get()) < 0)
    return;
  subscriptions_.emplace(id, Subscription{std::move(subscriber), SdBusSlotPtr(slot)});
  rearm();
}

int SdBusConnection::onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* subscriber = static_cast<Subscriber*>(userdata);
  if (subscriber->cancelled.load(std::memory_order_acquire)) return 0;
  BusResult<std::vector<BusValue>> args = SdBusMessageCodec::read(message);
  if (!args.ok()) return 0;
  auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
  BusSignal signal{text(sd_bus_message_get_path(message)),
                   text(sd_bus_message_get_interface(message)),
                   text(sd_bus_message_get_member(message)), std::move(args).value(),
                   text(sd_bus_message_get_sender(message))};
  subscriber->queue->post(
      [subscriber = subscriber->shared_from_this(), signal = std::move(signal)] {
        if (!subscriber->cancelled.load(std::memory_order_acquire)) subscriber->handler(signal);
      });
  // Zero lets the other subscriptions for the same signal see it too.
  return 0;
}

int SdBusConnection::onMatchInstalled(sd_bus_message*, void*, sd_bus_error*) {
  // A refused rule leaves that subscription silent; returning 0 keeps sd-bus
  // from closing the whole connection over it.
  return 0;
}

void SdBusConnection::close() {
  open_.store(false, std::memory_order_release);
  if (queue_->isCurrent()) {
    teardown();
  } else {
    queue_->sync([this] { teardown(); });
  }
}

void SdBusConnection::teardown() {
  open_.store(false, std::memory_order_release);
  // The reactor stops watching the descriptor before sd-bus closes it.
  if (reader_) reader_->cancel();
  if (writer_) writer_->cancel();
  reader_.reset();
  writer_.reset();
  wakeUp_.cancel();
  wakeUpAt_.reset();
  subscriptions_.clear();
  if (bus_) {
    if (signalsSent_ && sd_bus_is_open(bus_.get()) > 0) settle();
    // Freeing the bus frees the floating call slots, whose destroy callbacks
    // answer the calls still waiting with Disconnected.
    bus_.reset();
  }
}

void SdBusConnection::settle() {
  // Written is not yet routed: a daemon still answering our Hello can notice
  // the closed socket first and drop what we sent with it.  Its answer to a
  // Ping sent after our signals says it has read and routed them all.
  bool answered = false;
  if (sd_bus_call_method_async(
          bus_.get(), nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
          "org.freedesktop.DBus.Peer", "Ping",
          [](sd_bus_message*, void* done, sd_bus_error*) {
            *static_cast<bool*>(done) = true;
            return 1;
          },
          &answered, "") < 0)
    return;
  // The floating Ping slot dies with the bus right after, so `answered` is
  // never written once this returns.
  const auto end = dispatch::SteadyClock::monotonicNow() + kCloseSettle;
  while (!answered) {
    const int events = sd_bus_get_events(bus_.get());
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - dispatch::SteadyClock::monotonicNow());
    if (events < 0 || left.count() <= 0) return;
    pollfd fd{sd_bus_get_fd(bus_.get()), static_cast<short>(events), 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) < 0) return;
    int r = 0;
    while (!answered && (r = sd_bus_process(bus_.get(), nullptr)) > 0) {
    }
    if (!answered && r < 0) return;
  }
}

}  // namespace vistrelle::bus
