#pragma once

namespace vistrelle::bus {

// The per-user session bus (DBUS_SESSION_BUS_ADDRESS) or the host's system bus
// (DBUS_SYSTEM_BUS_ADDRESS).
enum class BusKind { Session, System };

inline const char* busKindName(BusKind kind) {
  return kind == BusKind::Session ? "session" : "system";
}

}  // namespace vistrelle::bus
