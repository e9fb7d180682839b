#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vistrelle::session {

// Reads one environment variable: its value, or none when it is not set.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// The process' own environment.
std::optional<std::string> processEnvironment(const std::string& name);

// True in a Wayland session: XDG_SESSION_TYPE is "wayland" or
// WAYLAND_DISPLAY is set (not empty).  There DISPLAY may well be set too, for
// Xwayland, but X11 sees only the X11 clients: RandR changes are refused and
// the root window misses every Wayland window.
bool isWaylandSession(const Environment& environment);
bool isWaylandSession();

}  // namespace vistrelle::session
