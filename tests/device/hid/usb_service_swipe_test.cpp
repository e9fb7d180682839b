// The facade's swipe gestures on a real X server: an XInput2 raw-key
// listener on the root window sees what the XTest keyboard posts, as any
// desktop shortcut handler would.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <utility>
#include <vector>

#include "device/hid/orvex_usb_service_oc.h"
#include "platform/keyboard/linux/xtest_synthetic_keyboard.h"
#include "support/xvfb_server.h"

// Last: Xlib defines macros (None, Bool, Status) that other headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace vistrelle::device {
namespace {

// (pressed, key symbol) of every raw key event.
using KeyEvent = std::pair<bool, KeySym>;

class RawKeyListener {
 public:
  explicit RawKeyListener(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (display_ == nullptr) return;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error)) return;
    int major = 2;
    int minor = 0;
    if (XIQueryVersion(display_, &major, &minor) != Success) return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    XSync(display_, False);
    ready_ = true;
  }
  ~RawKeyListener() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  bool ready() const { return ready_; }

  // Waits (bounded) for `count` raw key events.
  std::vector<KeyEvent> read(size_t count) {
    std::vector<KeyEvent> events;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
      if (XPending(display_) == 0) {
        pollfd fd{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&fd, 1, 100);
        continue;
      }
      XEvent event;
      XNextEvent(display_, &event);
      XGenericEventCookie* cookie = &event.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode_ ||
          !XGetEventData(display_, cookie)) {
        continue;
      }
      if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        events.emplace_back(cookie->evtype == XI_RawKeyPress,
                            XkbKeycodeToKeysym(display_, static_cast<KeyCode>(raw->detail), 0, 0));
      }
      XFreeEventData(display_, cookie);
    }
    return events;
  }

 private:
  Display* display_ = nullptr;
  int opcode_ = 0;
  bool ready_ = false;
};

std::vector<KeyEvent> controlArrow(KeySym arrow) {
  return {{true, XK_Control_L}, {true, arrow}, {false, arrow}, {false, XK_Control_L}};
}

TEST(UsbServiceSwipe, DirectionsArriveAsControlArrowsAtARawListener) {
  vistrelle::testing::XvfbServer server;
  ASSERT_FALSE(server.display().empty()) << "no X display";
  RawKeyListener listener(server.display());
  ASSERT_TRUE(listener.ready()) << "no XInput2 on " << server.display();
  OrvexUSBServiceOC::Options options;
  options.keyboard = std::make_shared<XTestSyntheticKeyboard>(server.display());
  options.log = [](std::string_view) {};
  OrvexUSBServiceOC service(options);

  // Direction 4 posts nothing: the second Up pair follows the Right one.
  for (int64_t direction : {0, 1, 2, 3, 4, 0}) service.handleThreeFingerSwipeIsLeft(direction);
  std::vector<KeyEvent> expected;
  for (KeySym arrow : {XK_Up, XK_Down, XK_Left, XK_Right, XK_Up}) {
    for (const KeyEvent& event : controlArrow(arrow)) expected.push_back(event);
  }
  EXPECT_EQ(listener.read(expected.size()), expected);
}

}  // namespace
}  // namespace vistrelle::device
