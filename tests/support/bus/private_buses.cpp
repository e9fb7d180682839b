#include "support/bus/private_buses.h"

#include <cstdlib>

namespace vistrelle::testing {

namespace {

std::optional<std::string> readEnv(const char* name) {
  if (const char* value = std::getenv(name)) return std::string(value);
  return std::nullopt;
}

void restoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

PrivateBuses::PrivateBuses()
    : session_("session"),
      system_("system"),
      previousSession_(readEnv("DBUS_SESSION_BUS_ADDRESS")),
      previousSystem_(readEnv("DBUS_SYSTEM_BUS_ADDRESS")) {
  if (session_.running()) setenv("DBUS_SESSION_BUS_ADDRESS", session_.address().c_str(), 1);
  if (system_.running()) setenv("DBUS_SYSTEM_BUS_ADDRESS", system_.address().c_str(), 1);
}

PrivateBuses::~PrivateBuses() {
  restoreEnv("DBUS_SESSION_BUS_ADDRESS", previousSession_);
  restoreEnv("DBUS_SYSTEM_BUS_ADDRESS", previousSystem_);
}

std::string PrivateBuses::error() const {
  std::string text;
  if (!session_.running()) text += "session bus: " + session_.error();
  if (!system_.running()) text += (text.empty() ? "" : "; ") + ("system bus: " + system_.error());
  return text;
}

}  // namespace vistrelle::testing
