#pragma once

#include <string>
#include <utility>

namespace vistrelle::bus {

// Why a bus operation did not give its result.  "No bus" is a value like any
// other: a desktop without a session bus or a container without a system bus
// is an ordinary situation that the caller logs once.
struct BusError {
  enum class Code {
    NoBus,            // nothing to connect to: no address, no socket, refused, handshake failed
    Disconnected,     // closed or lost before the answer came
    Timeout,          // no answer within the call's time-out
    Remote,           // the peer or the daemon answered with a D-Bus error (see `name`)
    InvalidArgument,  // a name, path or value that D-Bus cannot carry
    WrongContext,     // a waiting call made on the bus's own queue, which would wait on itself
    BadReply,         // an answer of another type than asked for, or one this layer cannot read
  };

  Code code = Code::NoBus;
  // The D-Bus error name for Remote ("org.freedesktop.DBus.Error.ServiceUnknown"); empty otherwise.
  std::string name;
  std::string message;

  static BusError make(Code code, std::string message, std::string name = {}) {
    return BusError{code, std::move(name), std::move(message)};
  }
  // One line for a log: "no bus: no session bus address (DBUS_SESSION_BUS_ADDRESS unset)".
  std::string describe() const;
};

const char* busErrorCodeName(BusError::Code code);

}  // namespace vistrelle::bus
