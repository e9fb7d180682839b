#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/bus/bus.h"
#include "platform/bus/linux/sd_bus_ptr.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/stop_registration.h"

namespace vistrelle::bus {

// A bus connection over sd-bus.  The sd-bus object is touched only on the
// connection's own serial queue; its socket is watched by the reactor, which
// hands readiness to that queue, and sd-bus's time-outs are deadlines on it,
// so no thread ever sleeps in sd_bus_wait.
class SdBusConnection final : public Bus, public std::enable_shared_from_this<SdBusConnection> {
 public:
  // Connects to `address` (a D-Bus address, "unix:path=/run/dbus/system_bus_socket")
  // and says Hello on `queue`.  A missing or refusing socket is NoBus at once;
  // a handshake the daemon refuses shows as Disconnected on the first call.
  static BusResult<std::shared_ptr<SdBusConnection>> open(BusKind kind, const std::string& address,
                                                          dispatch::Reactor& reactor,
                                                          dispatch::SerialQueuePtr queue);

  // The address the environment gives for `kind`, or NoBus saying why there is none:
  // DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus; DBUS_SYSTEM_BUS_ADDRESS,
  // else /run/dbus/system_bus_socket.
  static BusResult<std::string> addressFor(BusKind kind);

  ~SdBusConnection() override;

  // Keeps the runtime's stop entry that closes this connection, so that it
  // is dropped with the connection.  Set once, before the connection is shared.
  void keepStop(dispatch::StopRegistration stop) { stop_ = std::move(stop); }

  BusKind kind() const override { return kind_; }
  bool isOpen() const override { return open_.load(std::memory_order_acquire); }
  void call(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) override;
  BusResult<void> emitSignal(BusSignal signal) override;
  BusResult<BusSubscription> subscribe(BusSignalMatch match, dispatch::ExecutorPtr queue,
                                       SignalHandler onSignal) override;
  void close() override;

 protected:
  bool isOwnContext() const override { return queue_->isCurrent(); }

 private:
  struct PendingCall;
  struct Subscriber;
  struct Subscription {
    std::shared_ptr<Subscriber> subscriber;
    SdBusSlotPtr slot;
  };

  SdBusConnection(BusKind kind, dispatch::SerialQueuePtr queue, SdBusPtr bus);

  // All below run on queue_.
  void start(dispatch::Reactor& reactor);
  void pump();
  void rearm();
  void send(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply);
  void sendSignal(const BusSignal& signal);
  void addMatch(uint64_t id, const BusSignalMatch& match, std::shared_ptr<Subscriber> subscriber);
  void teardown();
  void settle();

  static int onReply(sd_bus_message* message, void* userdata, sd_bus_error* error);
  static void onCallGone(void* userdata);
  static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error* error);
  static int onMatchInstalled(sd_bus_message* message, void* userdata, sd_bus_error* error);

  const BusKind kind_;
  const dispatch::SerialQueuePtr queue_;
  std::atomic<bool> open_{true};
  std::atomic<uint64_t> nextSubscription_{1};

  // Only on queue_.
  SdBusPtr bus_;
  dispatch::IoSourcePtr reader_;
  dispatch::IoSourcePtr writer_;
  bool reading_ = false;
  bool writing_ = false;
  bool signalsSent_ = false;
  dispatch::DelayedTask wakeUp_;
  std::optional<uint64_t> wakeUpAt_;  // sd-bus's deadline, CLOCK_MONOTONIC microseconds
  std::unordered_map<uint64_t, Subscription> subscriptions_;

  // Last, so that it is dropped after the sd-bus object is gone.
  dispatch::StopRegistration stop_;
};

}  // namespace vistrelle::bus
