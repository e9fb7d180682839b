#include "platform/session/session_type.h"

#include <cstdlib>

namespace vistrelle::session {

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool isWaylandSession(const Environment& environment) {
  if (environment("XDG_SESSION_TYPE") == std::optional<std::string>("wayland")) return true;
  const std::optional<std::string> display = environment("WAYLAND_DISPLAY");
  return display && !display->empty();
}

bool isWaylandSession() {
  return isWaylandSession(processEnvironment);
}

}  // namespace vistrelle::session
