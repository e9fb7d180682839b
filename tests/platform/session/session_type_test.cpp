#include "platform/session/session_type.h"

#include <gtest/gtest.h>

#include <map>

namespace vistrelle::session {
namespace {

TEST(SessionType, WaylandIsToldFromTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> environment;
    bool wayland;
  };
  const Case cases[] = {
      {{}, false},
      // An X11 session.
      {{{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, false},
      // GNOME on Wayland with Xwayland: DISPLAY is set as well.
      {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
       true},
      {{{"XDG_SESSION_TYPE", "wayland"}}, true},
      // A Wayland compositor started without logind's help.
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}}, true},
      {{{"XDG_SESSION_TYPE", "tty"}, {"WAYLAND_DISPLAY", "/run/user/1000/wayland-0"}}, true},
      // Set but empty names no compositor.
      {{{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}}, false},
      {{{"XDG_SESSION_TYPE", "Wayland-ish"}}, false},
      {{{"XDG_SESSION_TYPE", "tty"}}, false},
  };
  for (const Case& c : cases) {
    const Environment environment = [&c](const std::string& name) -> std::optional<std::string> {
      auto found = c.environment.find(name);
      if (found == c.environment.end()) return std::nullopt;
      return found->second;
    };
    std::string shown;
    for (const auto& [name, value] : c.environment) shown += name + "=" + value + " ";
    EXPECT_EQ(isWaylandSession(environment), c.wayland) << shown;
  }
}

}  // namespace
}  // namespace vistrelle::session
