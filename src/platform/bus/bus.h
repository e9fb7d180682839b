#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/bus/bus_error.h"
#include "platform/bus/bus_kind.h"
#include "platform/bus/bus_method_call.h"
#include "platform/bus/bus_property.h"
#include "platform/bus/bus_result.h"
#include "platform/bus/bus_signal.h"
#include "platform/bus/bus_signal_match.h"
#include "platform/bus/bus_subscription.h"
#include "platform/bus/bus_value.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::bus {

// One connection to a message bus.  Every operation may be called from any
// thread; answers and signals run on the queue the caller names, never on the
// caller's stack.  Nothing here throws: an operation that cannot be done says
// why as a BusError.
//
// Lifetime: the connection holds a socket watched by the runtime's reactor,
// so it must close before the runtime stops; the Linux connector registers
// close() with the runtime's stops for that.  An owner may close earlier.
// Calls still waiting then get Disconnected on their queues.
class Bus {
 public:
  using Reply = BusResult<std::vector<BusValue>>;
  using ReplyHandler = std::function<void(Reply)>;
  using PropertyHandler = std::function<void(BusResult<BusValue>)>;
  using SignalHandler = std::function<void(const BusSignal&)>;

  virtual ~Bus() = default;

  virtual BusKind kind() const = 0;
  // False once closed or lost; calls then fail with Disconnected.
  virtual bool isOpen() const = 0;

  // Every queue argument must be non-null.
  //
  // Sends `call`; `onReply` runs exactly once on `queue` with the answer's
  // arguments or the error: the peer's, Timeout after `call.timeout`,
  // Disconnected, or InvalidArgument for a call that cannot be sent.
  virtual void call(BusMethodCall call, dispatch::ExecutorPtr queue, ReplyHandler onReply) = 0;

  // Waits for the answer, at most the call's time-out (and a second's grace
  // for the bus's own queue).  For callers that must have the answer before
  // going on (a brightness restore at exit); refused with WrongContext on the
  // bus's own queue.  It blocks the calling thread, so never call it from a
  // task on a queue the bus may need.
  Reply callAndWait(BusMethodCall call);

  // org.freedesktop.DBus.Properties.Get: the property's value, unwrapped from
  // its variant.
  void readProperty(BusProperty property, dispatch::ExecutorPtr queue, PropertyHandler onValue);
  BusResult<BusValue> readPropertyAndWait(BusProperty property);

  // Queues `signal` for sending (broadcast).  An error means it was refused
  // (an invalid name or value, a closed bus); a connection lost before it
  // leaves drops it, as D-Bus signals are.
  virtual BusResult<void> emitSignal(BusSignal signal) = 0;

  // Runs `onSignal` on `queue` for each matching signal until the returned
  // subscription is cancelled or destroyed; an invalid match or a closed bus
  // is an error instead.  Signals sent after a later call on this bus has been
  // answered are seen (the daemon installs the match before it answers that
  // call).  A signal with argument types this layer cannot read is skipped.
  virtual BusResult<BusSubscription> subscribe(BusSignalMatch match, dispatch::ExecutorPtr queue,
                                               SignalHandler onSignal) = 0;

  // Closes the connection: signals emitted before it are seen routed by the
  // daemon first (a quarter second at most), waiting calls get Disconnected,
  // subscriptions end.  Returns once the socket is closed.  Idempotent.
  virtual void close() = 0;

 protected:
  // True while the calling thread runs a task of the bus's own queue, where
  // a waiting call would wait on itself.
  virtual bool isOwnContext() const = 0;
};

}  // namespace vistrelle::bus
