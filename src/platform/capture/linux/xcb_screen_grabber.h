// XcbScreenGrabber: X11 capture over xcb.  Frames are copied out of a
// shared-memory segment (MIT-SHM; plain GetImage where the server lacks it),
// displays are RandR monitors (the primary one is the main display, so the
// glasses' own output is never captured and fed back), and the cursor is
// drawn in from XFixes (its image fetched again only when XFixes says it
// changed).  The server's pixel format is read, not assumed: 32 bits per
// pixel with a whole byte for each of red, green and blue, in either byte
// order; other formats are refused at connect.  X leaves the fourth byte
// undefined: it is set to 255.  When RandR reports a screen change, or the
// server refuses the opened rectangle, the display is looked up and opened
// again (at its new size), so capture goes on after a mode change.
#pragma once

#include <memory>
#include <string>

#include "platform/capture/capture_frame_pool.h"
#include "platform/capture/screen_grabber.h"

namespace vistrelle::capture {

class XcbScreenGrabber : public ScreenGrabber {
 public:
  // displayName null means the desktop's own display, $DISPLAY, refused in
  // a Wayland session (kWaylandSessionReason).  Null with the reason when no
  // X11 display can be read (none given, a Wayland session, or the server
  // refuses the connection).
  static std::unique_ptr<XcbScreenGrabber> connect(const char* displayName, std::string* reason);

  static constexpr const char* kWaylandSessionReason =
      "the 3D view needs an X11 session: this is a Wayland session, whose windows an X11 "
      "screen capture cannot see (choose an X11 or Xorg session at the login screen)";

  ~XcbScreenGrabber() override;
  XcbScreenGrabber(const XcbScreenGrabber&) = delete;
  XcbScreenGrabber& operator=(const XcbScreenGrabber&) = delete;

  std::vector<DisplayInfo> displays() override;
  uint32_t mainDisplayId() override;
  bool open(uint32_t displayId, bool showCursor, std::string* reason) override;
  std::shared_ptr<CaptureFrame> grab(std::string* reason) override;
  bool broken() const override;

  bool usesSharedMemory() const;

  // Byte offsets of blue, green and red in the server's 32-bit pixel.
  struct PixelLayout {
    int blue = 0;
    int green = 1;
    int red = 2;
    bool isBgrx() const { return blue == 0 && green == 1 && red == 2; }
  };
  PixelLayout pixelLayout() const;

  struct Impl;

 private:
  explicit XcbScreenGrabber(std::unique_ptr<Impl> impl);
  bool openDisplay(std::string* reason);
  bool openDisplayAsked(std::string* reason);
  bool grabInto(CaptureFrame& frame, bool* refused, std::string* reason);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vistrelle::capture
