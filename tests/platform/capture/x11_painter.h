// Draws on an X server's root window for capture tests: filled rectangles
// in 24-bit colours and the pointer position.
#pragma once

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

  void sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_gcontext_t gc_ = 0;
};

}  // namespace vistrelle::testing
