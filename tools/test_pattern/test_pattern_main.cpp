// vistrelle_test_pattern: a desktop for the simulated run.  One window over
// the given area of the X screen (not managed by the window manager, below
// every window mapped after it) showing a scene with depth cues: a sky that
// darkens upwards, a checkered floor that grows towards the viewer, and a
// few bright shapes standing on it.
//
//   vistrelle_test_pattern [X Y WIDTH HEIGHT]     default 0 0 1920 1080
//
// Runs until the X server goes or it is killed.

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Shape {
  double cx, cy, radius;  // a disc standing on the floor
  uint32_t colour;
};

uint32_t rgb(int r, int g, int b) {
  return (static_cast<uint32_t>(std::clamp(r, 0, 255)) << 16) |
         (static_cast<uint32_t>(std::clamp(g, 0, 255)) << 8) |
         static_cast<uint32_t>(std::clamp(b, 0, 255));
}

std::vector<uint32_t> scene(int width, int height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  const int horizon = height * 45 / 100;
  const Shape shapes[] = {
      {width * 0.22, height * 0.70, height * 0.16, rgb(230, 70, 60)},
      {width * 0.52, height * 0.58, height * 0.09, rgb(60, 170, 240)},
      {width * 0.78, height * 0.80, height * 0.20, rgb(250, 200, 40)},
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t colour;
      if (y < horizon) {
        const double t = static_cast<double>(y) / horizon;
        colour = rgb(static_cast<int>(40 + 120 * t), static_cast<int>(70 + 120 * t),
                     static_cast<int>(140 + 100 * t));
      } else {
        // Floor tiles in perspective: nearer rows are taller.
        const double depth = static_cast<double>(height - horizon) / (y - horizon + 1);
        const double u = (x - width / 2.0) / (y - horizon + 1) * 8;
        const bool dark =
            (static_cast<int>(std::floor(u)) + static_cast<int>(std::floor(depth * 4))) % 2 != 0;
        const int shade = static_cast<int>(200 - 60 * std::min(1.0, depth / 10));
        colour = dark ? rgb(shade / 3, shade / 3, shade / 3) : rgb(shade, shade, shade - 20);
      }
      for (const Shape& shape : shapes) {
        const double dx = x - shape.cx;
        const double dy = y - shape.cy;
        if (dx * dx + dy * dy <= shape.radius * shape.radius) {
          // A little light from the upper left.
          const double light = 1.0 - 0.35 * (dx + dy) / (2 * shape.radius);
          colour = rgb(static_cast<int>(((shape.colour >> 16) & 0xFF) * light),
                       static_cast<int>(((shape.colour >> 8) & 0xFF) * light),
                       static_cast<int>((shape.colour & 0xFF) * light));
        }
      }
      pixels[static_cast<size_t>(y) * width + x] = colour;
    }
  }
  return pixels;
}

void draw(xcb_connection_t* connection, xcb_window_t window, xcb_gcontext_t gc, uint8_t depth,
          const std::vector<uint32_t>& pixels, int width, int height) {
  // In strips, each well inside the largest request the server takes.
  const int rows =
      std::max(1, static_cast<int>((xcb_get_maximum_request_length(connection) * 4 - 64) /
                                   (static_cast<uint32_t>(width) * 4)));
  for (int y = 0; y < height; y += rows) {
    const int strip = std::min(rows, height - y);
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, static_cast<uint16_t>(width),
                  static_cast<uint16_t>(strip), 0, static_cast<int16_t>(y), 0, depth,
                  static_cast<uint32_t>(width) * strip * 4,
                  reinterpret_cast<const uint8_t*>(pixels.data() + static_cast<size_t>(y) * width));
  }
  xcb_flush(connection);
}

}  // namespace

int main(int argc, char** argv) {
  int x = 0, y = 0, width = 1920, height = 1080;
  if (argc == 5) {
    x = std::atoi(argv[1]);
    y = std::atoi(argv[2]);
    width = std::atoi(argv[3]);
    height = std::atoi(argv[4]);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: vistrelle_test_pattern [X Y WIDTH HEIGHT]\n");
    return 2;
  }
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    std::fprintf(stderr, "vistrelle_test_pattern: no such area\n");
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "vistrelle_test_pattern: cannot connect to the X server\n");
    return 1;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
  xcb_screen_t* screen = it.data;
  if (screen->root_depth != 24 && screen->root_depth != 32) {
    std::fprintf(stderr, "vistrelle_test_pattern: a %d-bit screen is not drawn\n",
                 screen->root_depth);
    return 1;
  }

  const xcb_window_t window = xcb_generate_id(connection);
  const uint32_t values[] = {screen->black_pixel, 1, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<int16_t>(x),
                    static_cast<int16_t>(y), static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  const char* title = "Vistrelle test pattern";
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                      8, static_cast<uint32_t>(std::strlen(title)), title);
  const xcb_gcontext_t gc = xcb_generate_id(connection);
  xcb_create_gc(connection, gc, window, 0, nullptr);
  xcb_map_window(connection, window);
  xcb_flush(connection);

  const std::vector<uint32_t> pixels = scene(width, height);
  while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
    if ((event->response_type & 0x7F) == XCB_EXPOSE) {
      draw(connection, window, gc, screen->root_depth, pixels, width, height);
    }
    std::free(event);
  }
  xcb_disconnect(connection);
  return 0;
}
