#include "platform/bus/bus.h"

#include <future>

#include "platform/bus/bus_names.h"
#include "platform/dispatch/clock.h"

namespace vistrelle::bus {

namespace {

// Runs each task at once on the posting thread: a waiting call's answer is
// handed over on the bus's own queue, straight to the waiting thread.
class ImmediateExecutor final : public dispatch::Executor {
 public:
  void post(dispatch::Task task) override { task(); }
  dispatch::DelayedTask postAt(dispatch::TimePoint, dispatch::Task task) override {
    task();
    return {};
  }
  dispatch::TimePoint now() const override { return dispatch::SteadyClock::monotonicNow(); }
  bool isCurrent() const override { return false; }
};

// The bus's queue gets this long beyond the call's own time-out before a
// waiting caller gives up on it.
constexpr std::chrono::seconds kQueueGrace{1};

BusMethodCall propertyGet(const BusProperty& property) {
  return BusMethodCall{property.destination,
                       property.path,
                       "org.freedesktop.DBus.Properties",
                       "Get",
                       {BusValue(property.interface), BusValue(property.name)},
                       property.timeout};
}

std::optional<BusError> invalidProperty(const BusProperty& property) {
  if (!isValidInterfaceName(property.interface))
    return BusError::make(BusError::Code::InvalidArgument,
                          "invalid interface \"" + property.interface + "\"");
  if (!isValidMemberName(property.name))
    return BusError::make(BusError::Code::InvalidArgument,
                          "invalid property name \"" + property.name + "\"");
  return std::nullopt;
}

BusResult<BusValue> unwrapProperty(Bus::Reply reply) {
  if (!reply.ok()) return reply.error();
  const std::vector<BusValue>& args = reply.value();
  if (args.size() != 1 || args[0].type() != BusValue::Type::Variant)
    return BusError::make(BusError::Code::BadReply,
                          "a property answer of type \"" + signatureOf(args) + "\", not \"v\"");
  return args[0].unboxed();
}

}  // namespace

Bus::Reply Bus::callAndWait(BusMethodCall call) {
  if (isOwnContext())
    return BusError::make(BusError::Code::WrongContext,
                          "a waiting call on the bus's own queue would wait on itself");
  const auto limit = call.timeout + kQueueGrace;
  auto promise = std::make_shared<std::promise<Reply>>();
  std::future<Reply> answer = promise->get_future();
  this->call(std::move(call), std::make_shared<ImmediateExecutor>(),
             [promise](Reply reply) { promise->set_value(std::move(reply)); });
  if (answer.wait_for(limit) != std::future_status::ready)
    return BusError::make(BusError::Code::Timeout, "the bus's queue did not answer in time");
  return answer.get();
}

void Bus::readProperty(BusProperty property, dispatch::ExecutorPtr queue, PropertyHandler onValue) {
  if (auto error = invalidProperty(property)) {
    queue->post([onValue = std::move(onValue), error = *error] { onValue(error); });
    return;
  }
  call(propertyGet(property), std::move(queue),
       [onValue = std::move(onValue)](Reply reply) { onValue(unwrapProperty(std::move(reply))); });
}

BusResult<BusValue> Bus::readPropertyAndWait(BusProperty property) {
  if (auto error = invalidProperty(property)) return *error;
  return unwrapProperty(callAndWait(propertyGet(property)));
}

}  // namespace vistrelle::bus
