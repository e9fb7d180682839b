#include "platform/bus/bus_error.h"

namespace vistrelle::bus {

const char* busErrorCodeName(BusError::Code code) {
  switch (code) {
    case BusError::Code::NoBus:
      return "no bus";
    case BusError::Code::Disconnected:
      return "disconnected";
    case BusError::Code::Timeout:
      return "time-out";
    case BusError::Code::Remote:
      return "remote error";
    case BusError::Code::InvalidArgument:
      return "invalid argument";
    case BusError::Code::WrongContext:
      return "wrong context";
    case BusError::Code::BadReply:
      return "bad reply";
  }
  return "unknown";
}

std::string BusError::describe() const {
  std::string text = busErrorCodeName(code);
  if (!name.empty()) text += " " + name;
  if (!message.empty()) text += ": " + message;
  return text;
}

}  // namespace vistrelle::bus
