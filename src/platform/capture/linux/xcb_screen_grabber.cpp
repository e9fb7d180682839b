#include "platform/capture/linux/xcb_screen_grabber.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/session/session_type.h"

namespace vistrelle::capture {
namespace {

// Replies are malloc'ed by xcb.
template <typename T>
struct ReplyDeleter {
  void operator()(T* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, ReplyDeleter<T>>;

struct ConnectionDeleter {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// Frames in flight: the one being written, the pipeline's mailbox, the one
// being worked on and the one the views still show.
constexpr size_t kPoolFrames = 5;

// Root-window pseudo display where RandR offers no monitors.
constexpr uint32_t kRootDisplayId = 1;

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
  Reply<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
  if (!reply) return {};
  return std::string(xcb_get_atom_name_name(reply.get()),
                     static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
}

// Source-over of a premultiplied ARGB pixel onto an opaque BGRA pixel.
void blendCursorPixel(uint32_t argb, uint8_t* bgra) {
  const uint32_t alpha = argb >> 24;
  if (alpha == 0) return;
  const uint32_t inverse = 255 - alpha;
  const uint32_t channels[3] = {argb & 0xff, (argb >> 8) & 0xff, (argb >> 16) & 0xff};
  for (int c = 0; c < 3; ++c) {
    const uint32_t value = channels[c] + (bgra[c] * inverse + 127) / 255;
    bgra[c] = static_cast<uint8_t>(std::min<uint32_t>(value, 255));
  }
}

// X leaves the fourth byte undefined: the copy sets it opaque.
void copyBgrxRow(const uint8_t* in, uint8_t* out, int width) {
  for (int x = 0; x < width; ++x) {
    uint32_t pixel;
    std::memcpy(&pixel, in + 4 * x, 4);
    pixel |= 0xff000000u;
    std::memcpy(out + 4 * x, &pixel, 4);
  }
}

}  // namespace

struct XcbScreenGrabber::Impl {
  std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection;
  xcb_screen_t* screen = nullptr;
  PixelLayout layout;
  bool hasShm = false;
  bool hasRandr = false;
  bool hasXfixes = false;
  uint8_t randrFirstEvent = 0;
  uint8_t xfixesFirstEvent = 0;

  // The opened display; what was asked for is kept to open it again after
  // the screen changed.
  std::optional<DisplayInfo> display;
  std::optional<uint32_t> openedId;
  bool showCursor = true;
  bool screenChanged = false;
  std::string openFailure;  // why the display could not be opened again
  xcb_shm_seg_t segment = 0;
  int shmId = -1;
  uint8_t* shmData = nullptr;
  size_t shmBytes = 0;
  CaptureFramePool pool{kPoolFrames};

  // The cursor image, fetched again only when XFixes says it changed.
  std::vector<uint32_t> cursorPixels;
  int cursorWidth = 0, cursorHeight = 0, cursorHotX = 0, cursorHotY = 0;
  bool cursorChanged = true;

  ~Impl() { releaseSegment(); }

  void releaseSegment() {
    if (shmData != nullptr) {
      if (connection && !xcb_connection_has_error(connection.get())) {
        xcb_shm_detach(connection.get(), segment);
        xcb_flush(connection.get());
      }
      shmdt(shmData);
      shmData = nullptr;
    }
    shmBytes = 0;
  }

  bool attachSegment(size_t bytes, std::string* reason) {
    releaseSegment();
    shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shmId < 0) {
      *reason = std::string("shmget: ") + std::strerror(errno);
      return false;
    }
    void* address = shmat(shmId, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      *reason = std::string("shmat: ") + std::strerror(errno);
      shmctl(shmId, IPC_RMID, nullptr);
      return false;
    }
    segment = xcb_generate_id(connection.get());
    xcb_generic_error_t* error = xcb_request_check(
        connection.get(),
        xcb_shm_attach_checked(connection.get(), segment, static_cast<uint32_t>(shmId), 0));
    // Marked for removal now: the segment goes away with the last detach,
    // even if this process dies.
    shmctl(shmId, IPC_RMID, nullptr);
    if (error != nullptr) {
      std::free(error);
      shmdt(address);
      *reason = "the X server cannot attach shared memory";
      return false;
    }
    shmData = static_cast<uint8_t*>(address);
    shmBytes = bytes;
    return true;
  }

  // The root's size now: the connection's setup keeps the size it had when
  // the connection was made.
  std::pair<int, int> rootSize() {
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
        connection.get(), xcb_get_geometry(connection.get(), screen->root), nullptr));
    if (!geometry) return {screen->width_in_pixels, screen->height_in_pixels};
    return {geometry->width, geometry->height};
  }

  std::vector<DisplayInfo> monitors() {
    std::vector<DisplayInfo> list;
    if (hasRandr) {
      Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
          connection.get(), xcb_randr_get_monitors(connection.get(), screen->root, 0), nullptr));
      if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
          const xcb_randr_monitor_info_t* info = it.data;
          DisplayInfo display;
          const int outputs = xcb_randr_monitor_info_outputs_length(info);
          // The first output's id names the monitor the way a display id
          // names a screen; a monitor without outputs goes by its name atom.
          display.id = outputs > 0 ? xcb_randr_monitor_info_outputs(info)[0] : info->name;
          display.name = atomName(connection.get(), info->name);
          display.x = info->x;
          display.y = info->y;
          display.width = info->width;
          display.height = info->height;
          display.primary = info->primary != 0;
          if (display.width > 0 && display.height > 0) list.push_back(display);
        }
      }
    }
    if (list.empty()) {
      const auto [width, height] = rootSize();
      list.push_back(DisplayInfo{kRootDisplayId, "root", 0, 0, width, height, true});
    }
    return list;
  }

  // Takes what the server sent on its own: screen changes and cursor changes.
  void drainEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection.get())) {
      const uint8_t type = event->response_type & 0x7f;
      if (hasRandr && (type == randrFirstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                       type == randrFirstEvent + XCB_RANDR_NOTIFY)) {
        screenChanged = true;
      } else if (hasXfixes && type == xfixesFirstEvent + XCB_XFIXES_CURSOR_NOTIFY) {
        cursorChanged = true;
      }
      std::free(event);
    }
  }

  void fetchCursor() {
    cursorChanged = false;
    Reply<xcb_xfixes_get_cursor_image_reply_t> cursor(xcb_xfixes_get_cursor_image_reply(
        connection.get(), xcb_xfixes_get_cursor_image(connection.get()), nullptr));
    if (!cursor) {
      cursorWidth = cursorHeight = 0;
      return;
    }
    const uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
    cursorWidth = cursor->width;
    cursorHeight = cursor->height;
    cursorHotX = cursor->xhot;
    cursorHotY = cursor->yhot;
    cursorPixels.assign(pixels, pixels + static_cast<size_t>(cursorWidth) * cursorHeight);
  }

  void drawCursor(CaptureFrame& frame) {
    if (cursorChanged) fetchCursor();
    if (cursorWidth == 0 || cursorHeight == 0) return;
    Reply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(
        connection.get(), xcb_query_pointer(connection.get(), screen->root), nullptr));
    if (!pointer || !pointer->same_screen) return;
    const int left = pointer->root_x - cursorHotX - display->x;
    const int top = pointer->root_y - cursorHotY - display->y;
    for (int cy = 0; cy < cursorHeight; ++cy) {
      const int y = top + cy;
      if (y < 0 || y >= frame.height()) continue;
      for (int cx = 0; cx < cursorWidth; ++cx) {
        const int x = left + cx;
        if (x < 0 || x >= frame.width()) continue;
        blendCursorPixel(cursorPixels[static_cast<size_t>(cy) * cursorWidth + cx],
                         frame.row(y) + 4 * x);
      }
    }
  }
};

namespace {

// Where the server keeps blue, green and red in a 32-bit pixel: the visual's
// masks must each cover one whole byte.
std::optional<XcbScreenGrabber::PixelLayout> readPixelLayout(const xcb_setup_t* setup,
                                                             const xcb_screen_t* screen,
                                                             std::string* reason) {
  int bitsPerPixel = 0;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == screen->root_depth) bitsPerPixel = it.data->bits_per_pixel;
  }
  const xcb_visualtype_t* visual = nullptr;
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem && !visual;
       xcb_depth_next(&depths)) {
    for (auto it = xcb_depth_visuals_iterator(depths.data); it.rem; xcb_visualtype_next(&it)) {
      if (it.data->visual_id == screen->root_visual) visual = it.data;
    }
  }
  const bool msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  auto describe = [&] {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the X server's pixels (%d bits per pixel, depth %d, masks r %08x g %08x b "
                  "%08x, %s first) cannot be captured",
                  bitsPerPixel, screen->root_depth, visual ? visual->red_mask : 0,
                  visual ? visual->green_mask : 0, visual ? visual->blue_mask : 0,
                  msbFirst ? "most significant byte" : "least significant byte");
    return std::string(text);
  };
  if (bitsPerPixel != 32 || visual == nullptr) {
    *reason = describe();
    return std::nullopt;
  }
  auto byteOf = [&](uint32_t mask) -> int {
    for (int shift = 0; shift < 32; shift += 8) {
      if (mask == 0xffu << shift) return msbFirst ? 3 - shift / 8 : shift / 8;
    }
    return -1;
  };
  XcbScreenGrabber::PixelLayout layout{byteOf(visual->blue_mask), byteOf(visual->green_mask),
                                       byteOf(visual->red_mask)};
  if (layout.blue < 0 || layout.green < 0 || layout.red < 0) {
    *reason = describe();
    return std::nullopt;
  }
  return layout;
}

}  // namespace

std::unique_ptr<XcbScreenGrabber> XcbScreenGrabber::connect(const char* displayName,
                                                            std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  // The user's own desktop: in a Wayland session DISPLAY may name Xwayland,
  // whose root window holds none of the Wayland windows, so a capture would
  // show a black or half-empty screen on the glasses.
  if (displayName == nullptr && session::isWaylandSession()) {
    *reason = kWaylandSessionReason;
    return nullptr;
  }
  const char* name = displayName != nullptr ? displayName : std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    *reason = "screen capture needs an X11 display: DISPLAY is not set";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  int screenNumber = 0;
  impl->connection.reset(xcb_connect(name, &screenNumber));
  if (xcb_connection_has_error(impl->connection.get())) {
    *reason = std::string("cannot open X11 display \"") + name + "\"";
    return nullptr;
  }
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(impl->connection.get()));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    *reason = std::string("X11 display \"") + name + "\" has no such screen";
    return nullptr;
  }
  impl->screen = screens.data;
  const std::optional<PixelLayout> layout =
      readPixelLayout(xcb_get_setup(impl->connection.get()), impl->screen, reason);
  if (!layout) return nullptr;
  impl->layout = *layout;
  xcb_connection_t* connection = impl->connection.get();

  const auto* shm = xcb_get_extension_data(connection, &xcb_shm_id);
  if (shm != nullptr && shm->present) {
    Reply<xcb_shm_query_version_reply_t> version(
        xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr));
    impl->hasShm = version != nullptr;
  }
  const auto* randr = xcb_get_extension_data(connection, &xcb_randr_id);
  if (randr != nullptr && randr->present) {
    Reply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    impl->hasRandr =
        version != nullptr && (version->major_version > 1 ||
                               (version->major_version == 1 && version->minor_version >= 5));
    if (impl->hasRandr) {
      // A mode change moves or resizes the monitors: told, the grabber opens
      // its display again instead of asking for a rectangle that is gone.
      impl->randrFirstEvent = randr->first_event;
      xcb_randr_select_input(connection, impl->screen->root,
                             XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
  }
  const auto* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
  if (xfixes != nullptr && xfixes->present) {
    Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, 4, 0), nullptr));
    impl->hasXfixes = version != nullptr;
    if (impl->hasXfixes) {
      impl->xfixesFirstEvent = xfixes->first_event;
      xcb_xfixes_select_cursor_input(connection, impl->screen->root,
                                     XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    }
  }
  xcb_flush(connection);
  return std::unique_ptr<XcbScreenGrabber>(new XcbScreenGrabber(std::move(impl)));
}

XcbScreenGrabber::XcbScreenGrabber(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
XcbScreenGrabber::~XcbScreenGrabber() = default;

std::vector<DisplayInfo> XcbScreenGrabber::displays() {
  if (broken()) return {};
  return impl_->monitors();
}

uint32_t XcbScreenGrabber::mainDisplayId() {
  const std::vector<DisplayInfo> list = displays();
  for (const DisplayInfo& display : list) {
    if (display.primary) return display.id;
  }
  return list.empty() ? 0 : list.front().id;
}

bool XcbScreenGrabber::usesSharedMemory() const {
  return impl_->hasShm;
}

XcbScreenGrabber::PixelLayout XcbScreenGrabber::pixelLayout() const {
  return impl_->layout;
}

bool XcbScreenGrabber::broken() const {
  return xcb_connection_has_error(impl_->connection.get()) != 0;
}

bool XcbScreenGrabber::open(uint32_t displayId, bool showCursor, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  impl_->openedId = displayId;
  impl_->showCursor = showCursor;
  if (openDisplay(reason)) return true;
  impl_->openedId.reset();
  return false;
}

bool XcbScreenGrabber::openDisplay(std::string* reason) {
  const bool opened = openDisplayAsked(reason);
  if (!opened) impl_->openFailure = *reason;
  return opened;
}

bool XcbScreenGrabber::openDisplayAsked(std::string* reason) {
  impl_->display.reset();
  impl_->releaseSegment();
  impl_->screenChanged = false;
  if (broken()) {
    *reason = "the X11 connection is lost";
    return false;
  }
  const uint32_t displayId = *impl_->openedId;
  const auto [rootWidth, rootHeight] = impl_->rootSize();
  for (const DisplayInfo& display : displays()) {
    if (display.id != displayId) continue;
    // Clip to the root: a monitor may reach past it during a mode change.
    DisplayInfo clipped = display;
    clipped.x = std::clamp(display.x, 0, rootWidth);
    clipped.y = std::clamp(display.y, 0, rootHeight);
    clipped.width = std::min(display.x + display.width, rootWidth) - clipped.x;
    clipped.height = std::min(display.y + display.height, rootHeight) - clipped.y;
    if (clipped.width <= 0 || clipped.height <= 0) {
      *reason = "display " + std::to_string(displayId) + " lies outside the screen";
      return false;
    }
    const size_t bytes = static_cast<size_t>(clipped.width) * clipped.height * 4;
    if (impl_->hasShm && !impl_->attachSegment(bytes, reason)) {
      impl_->hasShm = false;  // e.g. a remote server: fall back to GetImage
    }
    impl_->display = clipped;
    return true;
  }
  *reason = "no display with id " + std::to_string(displayId);
  return false;
}

std::shared_ptr<CaptureFrame> XcbScreenGrabber::grab(std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  if (broken()) {
    *reason = "the X11 connection is lost";
    return nullptr;
  }
  impl_->drainEvents();
  if (!impl_->openedId) {
    *reason = "no display is open";
    return nullptr;
  }
  // After a mode change the old rectangle may no longer exist: the monitors
  // are asked again and the display opened anew, at its new size. Where it
  // is gone, the next change may bring it back.
  if (impl_->screenChanged && !openDisplay(reason)) return nullptr;
  if (!impl_->display) {
    *reason = impl_->openFailure;
    return nullptr;
  }
  std::shared_ptr<CaptureFrame> frame =
      impl_->pool.acquire(impl_->display->width, impl_->display->height);
  if (!frame) {
    *reason = "every capture frame is still in use";
    return nullptr;
  }
  bool refused = false;
  if (grabInto(*frame, &refused, reason)) return frame;
  if (!refused) return nullptr;
  // The server refused the rectangle (BadMatch once the screen shrank under
  // it, perhaps before its notice arrived): open again and try once more.
  if (!openDisplay(reason)) return nullptr;
  frame = impl_->pool.acquire(impl_->display->width, impl_->display->height);
  if (!frame) {
    *reason = "every capture frame is still in use";
    return nullptr;
  }
  return grabInto(*frame, &refused, reason) ? frame : nullptr;
}

bool XcbScreenGrabber::grabInto(CaptureFrame& frame, bool* refused, std::string* reason) {
  *refused = false;
  const DisplayInfo& display = *impl_->display;
  xcb_connection_t* connection = impl_->connection.get();
  const uint8_t* pixels = nullptr;
  Reply<xcb_get_image_reply_t> plain;
  Reply<xcb_shm_get_image_reply_t> shared;
  xcb_generic_error_t* error = nullptr;
  if (impl_->hasShm && impl_->shmData != nullptr) {
    shared.reset(xcb_shm_get_image_reply(
        connection,
        xcb_shm_get_image(connection, impl_->screen->root, static_cast<int16_t>(display.x),
                          static_cast<int16_t>(display.y), static_cast<uint16_t>(display.width),
                          static_cast<uint16_t>(display.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          impl_->segment, 0),
        &error));
    if (shared) pixels = impl_->shmData;
  } else {
    plain.reset(xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, impl_->screen->root,
                      static_cast<int16_t>(display.x), static_cast<int16_t>(display.y),
                      static_cast<uint16_t>(display.width), static_cast<uint16_t>(display.height),
                      ~0u),
        &error));
    if (plain && static_cast<size_t>(xcb_get_image_data_length(plain.get())) >=
                     static_cast<size_t>(display.width) * display.height * 4) {
      pixels = xcb_get_image_data(plain.get());
    }
  }
  if (error != nullptr) {
    *reason = "the X server refused the image (error " + std::to_string(error->error_code) + ")";
    *refused = true;
    std::free(error);
    return false;
  }
  if (pixels == nullptr) {
    *reason = broken() ? "the X11 connection is lost" : "the X server sent no image";
    return false;
  }
  const size_t rowBytes = static_cast<size_t>(display.width) * 4;
  const PixelLayout layout = impl_->layout;
  for (int y = 0; y < display.height; ++y) {
    const uint8_t* in = pixels + rowBytes * static_cast<size_t>(y);
    uint8_t* out = frame.row(y);
    if (layout.isBgrx()) {
      copyBgrxRow(in, out, display.width);
    } else {
      for (int x = 0; x < display.width; ++x) {
        out[4 * x + 0] = in[4 * x + layout.blue];
        out[4 * x + 1] = in[4 * x + layout.green];
        out[4 * x + 2] = in[4 * x + layout.red];
        out[4 * x + 3] = 255;
      }
    }
  }
  if (impl_->showCursor && impl_->hasXfixes) impl_->drawCursor(frame);
  frame.setTimestamp(dispatch::SteadyClock::monotonicNow());
  return true;
}

}  // namespace vistrelle::capture
