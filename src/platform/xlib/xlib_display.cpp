#include "platform/xlib/xlib_display.h"

#include <X11/Xlib.h>

#include <mutex>
#include <set>

namespace vistrelle::xlib {
namespace {

// Xlib's I/O error handler is one per process and its default exits.  The
// displays opened here are listed; for them the handler returns, so that
// Xlib goes on to their own exit handler (onExit), which records the loss.
// Any other display still gets the handler that was there before.
struct Guard {
  std::mutex mutex;
  std::set<Display*> ours;
  XIOErrorHandler previous = nullptr;
  bool installed = false;
};

Guard& guard() {
  // Lives for the process: Xlib may call the handler until the last
  // connection is gone.
  static Guard* instance = new Guard;
  return *instance;
}

int onIoError(Display* display) {
  XIOErrorHandler previous = nullptr;
  {
    Guard& g = guard();
    std::lock_guard lock(g.mutex);
    if (g.ours.count(display) > 0) return 0;
    previous = g.previous;
  }
  return previous ? previous(display) : 0;
}

void adopt(Display* display) {
  Guard& g = guard();
  std::lock_guard lock(g.mutex);
  if (!g.installed) {
    g.previous = XSetIOErrorHandler(onIoError);
    g.installed = true;
  }
  g.ours.insert(display);
}

void release(Display* display) {
  Guard& g = guard();
  std::lock_guard lock(g.mutex);
  g.ours.erase(display);
}

}  // namespace

std::unique_ptr<XlibDisplay> XlibDisplay::open(const std::string& name, std::string* error) {
  Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (display == nullptr) {
    if (error) {
      const char* shown = name.empty() ? XDisplayName(nullptr) : name.c_str();
      *error = std::string("cannot open X display \"") + (shown ? shown : "") + "\"";
    }
    return nullptr;
  }
  std::unique_ptr<XlibDisplay> opened(new XlibDisplay(display));
  XSetIOErrorExitHandler(display, &XlibDisplay::onExit, opened.get());
  adopt(display);
  return opened;
}

int XlibDisplay::fd() const {
  return ConnectionNumber(display_);
}

XlibDisplay::~XlibDisplay() {
  XCloseDisplay(display_);
  release(display_);
}

void XlibDisplay::onExit(Display*, void* self) {
  static_cast<XlibDisplay*>(self)->lost_.store(true, std::memory_order_release);
}

}  // namespace vistrelle::xlib
