#include "platform/bus/bus_signal.h"

#include "platform/bus/bus_names.h"

namespace vistrelle::bus {

std::optional<std::string> BusSignal::invalidReason() const {
  if (!isValidObjectPath(path)) return "invalid object path \"" + path + "\"";
  if (!isValidInterfaceName(interface)) return "invalid interface \"" + interface + "\"";
  if (!isValidMemberName(member)) return "invalid member \"" + member + "\"";
  for (const BusValue& arg : args) {
    if (auto reason = arg.invalidReason()) return "argument: " + *reason;
  }
  return std::nullopt;
}

}  // namespace vistrelle::bus
