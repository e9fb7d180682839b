#include "platform/keyboard/linux/xtest_synthetic_keyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vistrelle {
namespace {

KeySym keySymOf(ArrowKey arrow) {
  switch (arrow) {
    case ArrowKey::Up:
      return XK_Up;
    case ArrowKey::Down:
      return XK_Down;
    case ArrowKey::Left:
      return XK_Left;
    case ArrowKey::Right:
      return XK_Right;
  }
  return XK_Up;
}

}  // namespace

std::shared_ptr<SyntheticKeyboard> SyntheticKeyboard::system() {
  return std::make_shared<XTestSyntheticKeyboard>();
}

XTestSyntheticKeyboard::XTestSyntheticKeyboard(std::string display)
    : displayName_(std::move(display)) {}

bool XTestSyntheticKeyboard::postControlArrow(ArrowKey arrow) {
  std::lock_guard lock(mutex_);
  Display* display = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
  if (display == nullptr) return false;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  bool posted = false;
  const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
  const KeyCode key = XKeysymToKeycode(display, keySymOf(arrow));
  if (XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) && control != 0 &&
      key != 0) {
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
    posted = true;
  }
  XCloseDisplay(display);
  return posted;
}

}  // namespace vistrelle
