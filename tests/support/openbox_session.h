#pragma once

// Openbox on a test's own X server: without a window manager a request for
// full screen is ignored and windows land where they ask to. The window
// manager stops with the object.
//
//   OpenboxSession openbox(xorg.display());
//   ASSERT_TRUE(openbox.running()) << openbox.error();

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace vistrelle::testing {

class OpenboxSession {
 public:
  explicit OpenboxSession(const std::string& display) {
    openbox_ = std::make_unique<ChildProcess>(std::vector<std::string>{"openbox", "--sm-disable"},
                                              std::vector<std::string>{"DISPLAY=" + display});
    if (!openbox_->started()) {
      error_ = "openbox did not start";
      return;
    }
    // Managing once it has announced itself on the root window.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!managing(display)) {
      if (openbox_->waitExit(std::chrono::milliseconds(0))) {
        error_ = "openbox exited: " + openbox_->output();
        return;
      }
      if (std::chrono::steady_clock::now() > end) {
        error_ = "openbox did not take the screen: " + openbox_->output();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    running_ = true;
  }

  bool running() const { return running_; }
  const std::string& error() const { return error_; }

 private:
  static bool managing(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool found = false;
    if (!xcb_connection_has_error(connection)) {
      const char* name = "_NET_SUPPORTING_WM_CHECK";
      auto* atom = xcb_intern_atom_reply(
          connection,
          xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
      const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
      if (atom != nullptr && atom->atom != XCB_ATOM_NONE) {
        auto* property = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        found = property != nullptr && xcb_get_property_value_length(property) == 4;
        std::free(property);
      }
      std::free(atom);
    }
    xcb_disconnect(connection);
    return found;
  }

  std::unique_ptr<ChildProcess> openbox_;
  std::string error_;
  bool running_ = false;
};

}  // namespace vistrelle::testing
