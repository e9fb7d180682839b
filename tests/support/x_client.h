#pragma once

// The X side of a test that runs the real executable on an X server: find
// its top-level windows, read their pixels, and ask a window to close the
// way a window manager would.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vistrelle::testing {

class XClient {
 public:
  struct Window {
    xcb_window_t id;
    int x, y, width, height;
    bool overrideRedirect;  // popups and tooltips, which no window manager frames
    std::string title;
  };

  explicit XClient(const std::string& display)
      : connection_(xcb_connect(display.c_str(), nullptr)) {}
  ~XClient() { xcb_disconnect(connection_); }
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool ok() const { return !xcb_connection_has_error(connection_); }

  // The root's viewable children, bottom to top.
  std::vector<Window> viewableWindows() {
    std::vector<Window> found;
    auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root()), nullptr);
    if (!tree) return found;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      auto* attrs = xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
      const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
      const bool overrideRedirect = attrs && attrs->override_redirect;
      free(attrs);
      if (!viewable) continue;
      auto* geometry =
          xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, children[i]), nullptr);
      if (!geometry) continue;
      found.push_back({children[i], geometry->x, geometry->y, geometry->width, geometry->height,
                       overrideRedirect, title(children[i])});
      free(geometry);
    }
    free(tree);
    return found;
  }

  std::vector<Window> viewableWindowsNamed(const std::string& name) {
    std::vector<Window> named;
    for (auto& window : viewableWindows()) {
      if (window.title == name) named.push_back(window);
    }
    return named;
  }

  // One pixel of a window as 0xRRGGBB (24-bit visuals), none when unreadable.
  std::optional<uint32_t> pixel(xcb_window_t window, int x, int y) {
    auto* image = xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<int16_t>(x),
                      static_cast<int16_t>(y), 1, 1, ~0u),
        nullptr);
    if (!image) return std::nullopt;
    std::optional<uint32_t> value;
    if (xcb_get_image_data_length(image) >= 4) {
      uint32_t raw;
      std::memcpy(&raw, xcb_get_image_data(image), 4);
      value = raw & 0xFFFFFF;
    }
    free(image);
    return value;
  }

  // Moves the pointer to root coordinates (x, y).
  void warpPointer(int x, int y) {
    xcb_warp_pointer(connection_, XCB_NONE, root(), 0, 0, 0, 0, static_cast<int16_t>(x),
                     static_cast<int16_t>(y));
    // A round trip: the warp has happened when it returns.
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

  void requestClose(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
  }

 private:
  xcb_window_t root() { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

  std::string title(xcb_window_t window) {
    auto* name = xcb_get_property_reply(connection_,
                                        xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME,
                                                         XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                        nullptr);
    std::string text = name ? std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                          xcb_get_property_value_length(name))
                            : "";
    free(name);
    return text;
  }

  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(strlen(name)), name),
        nullptr);
    xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return value;
  }

  xcb_connection_t* connection_;
};

}  // namespace vistrelle::testing
