#include "platform/bus/bus_method_call.h"

#include "platform/bus/bus_names.h"

namespace vistrelle::bus {

std::optional<std::string> BusMethodCall::invalidReason() const {
  if (!isValidBusName(destination)) return "invalid destination \"" + destination + "\"";
  if (!isValidObjectPath(path)) return "invalid object path \"" + path + "\"";
  if (!isValidInterfaceName(interface)) return "invalid interface \"" + interface + "\"";
  if (!isValidMemberName(member)) return "invalid member \"" + member + "\"";
  if (timeout.count() <= 0) return "a time-out that is not positive";
  for (const BusValue& arg : args) {
    if (auto reason = arg.invalidReason()) return "argument: " + *reason;
  }
  return std::nullopt;
}

}  // namespace vistrelle::bus
