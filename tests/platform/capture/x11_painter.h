// Draws on an X server's root window for capture tests: filled rectangles
// in 24-bit colours and the pointer position; changes the screen's mode
// through RandR as a display settings panel would.
#pragma once

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace vistrelle::testing {

class X11Painter {
 public:
  explicit X11Painter(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    gc_ = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc_, screen_->root, 0, nullptr);
  }
  ~X11Painter() { xcb_disconnect(connection_); }
  X11Painter(const X11Painter&) = delete;
  X11Painter& operator=(const X11Painter&) = delete;

  bool ok() const { return screen_ != nullptr; }

  void fill(int x, int y, int width, int height, uint32_t rgb) {
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t rectangle{static_cast<int16_t>(x), static_cast<int16_t>(y),
                                    static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    xcb_poly_fill_rectangle(connection_, screen_->root, gc_, 1, &rectangle);
    sync();
  }

  void movePointer(int x, int y) {
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, static_cast<int16_t>(x),
                     static_cast<int16_t>(y));
    sync();
  }

  // Sets the first output's CRTC to a width x height mode (made if the
  // server has none) and the screen to that size. False where the server
  // refuses (Xvfb cannot grow past its starting size). The mode stays while
  // this painter's connection lives.
  bool setMode(int width, int height) {
    using ScreenResources = xcb_randr_get_screen_resources_current_reply_t;
    ScreenResources* resources = xcb_randr_get_screen_resources_current_reply(
        connection_, xcb_randr_get_screen_resources_current(connection_, screen_->root), nullptr);
    if (resources == nullptr || resources->num_crtcs < 1 || resources->num_outputs < 1) {
      std::free(resources);
      return false;
    }
    xcb_randr_mode_t mode = 0;
    const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(resources);
    for (int i = 0; i < resources->num_modes; ++i) {
      if (modes[i].width == width && modes[i].height == height) mode = modes[i].id;
    }
    xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources)[0];
    const xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_current_crtcs(resources)[0];
    if (mode == 0) {
      xcb_randr_mode_info_t info{};
      info.width = static_cast<uint16_t>(width);
      info.height = static_cast<uint16_t>(height);
      const std::string name = std::to_string(width) + "x" + std::to_string(height);
      info.name_len = static_cast<uint16_t>(name.size());
      auto* made = xcb_randr_create_mode_reply(
          connection_,
          xcb_randr_create_mode(connection_, screen_->root, info, info.name_len, name.data()),
          nullptr);
      if (made == nullptr) {
        std::free(resources);
        return false;
      }
      mode = made->mode;
      std::free(made);
      std::free(xcb_request_check(connection_,
                                  xcb_randr_add_output_mode_checked(connection_, output, mode)));
    }
    // The screen holds the CRTC: grow it first, shrink it last.
    auto* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, screen_->root), nullptr);
    const bool grows = geometry == nullptr || width > geometry->width || height > geometry->height;
    std::free(geometry);
    if (grows && !setScreenSize(width, height)) {
      std::free(resources);
      return false;
    }
    auto* set = xcb_randr_set_crtc_config_reply(
        connection_,
        xcb_randr_set_crtc_config(connection_, crtc, XCB_CURRENT_TIME, resources->config_timestamp,
                                  0, 0, mode, XCB_RANDR_ROTATION_ROTATE_0, 1, &output),
        nullptr);
    std::free(resources);
    const bool ok = set != nullptr && set->status == XCB_RANDR_SET_CONFIG_SUCCESS;
    std::free(set);
    return ok && (grows || setScreenSize(width, height));
  }

  // The screen's size, with a millimetre size to go with it as xrandr gives (96 dpi).
  bool setScreenSize(int width, int height) {
    xcb_generic_error_t* error = xcb_request_check(
        connection_,
        xcb_randr_set_screen_size_checked(
            connection_, screen_->root, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
            static_cast<uint32_t>(width * 254 / 960), static_cast<uint32_t>(height * 254 / 960)));
    const bool ok = error == nullptr;
    std::free(error);
    return ok;
  }

  void sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_gcontext_t gc_ = 0;
};

}  // namespace vistrelle::testing
