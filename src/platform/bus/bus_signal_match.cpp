#include "platform/bus/bus_signal_match.h"

#include "platform/bus/bus_names.h"

namespace vistrelle::bus {

std::string BusSignalMatch::rule() const {
  // Every field is a validated name or path, so none holds a quote.
  std::string rule = "type='signal'";
  if (!sender.empty()) rule += ",sender='" + sender + "'";
  if (!path.empty()) rule += ",path='" + path + "'";
  if (!interface.empty()) rule += ",interface='" + interface + "'";
  if (!member.empty()) rule += ",member='" + member + "'";
  return rule;
}

std::optional<std::string> BusSignalMatch::invalidReason() const {
  if (!sender.empty() && !isValidBusName(sender)) return "invalid sender \"" + sender + "\"";
  if (!path.empty() && !isValidObjectPath(path)) return "invalid object path \"" + path + "\"";
  if (!interface.empty() && !isValidInterfaceName(interface))
    return "invalid interface \"" + interface + "\"";
  if (!member.empty() && !isValidMemberName(member)) return "invalid member \"" + member + "\"";
  return std::nullopt;
}

bool BusSignalMatch::matchesIgnoringSender(const BusSignal& signal) const {
  return (path.empty() || path == signal.path) &&
         (interface.empty() || interface == signal.interface) &&
         (member.empty() || member == signal.member);
}

}  // namespace vistrelle::bus
