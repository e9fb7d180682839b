// XlibDisplay: an Xlib connection whose loss is a state, not the end of the
// process.  Xlib's default answer to a broken connection is exit(); for the
// displays opened here it records the loss instead, and every later call on
// the connection returns at once.  Connections Xlib opened elsewhere keep
// the default.
//
// Use one connection from one thread (or queue) at a time.
#pragma once

#include <atomic>
#include <memory>
#include <string>

// Xlib's display type, without Xlib's macros (None, Bool, Status, ...) in
// every file that includes this one.
struct _XDisplay;

namespace vistrelle::xlib {

class XlibDisplay {
 public:
  // `name` as XOpenDisplay takes it; empty: $DISPLAY.  Null with the reason
  // when there is no server.
  static std::unique_ptr<XlibDisplay> open(const std::string& name, std::string* error);

  ~XlibDisplay();
  XlibDisplay(const XlibDisplay&) = delete;
  XlibDisplay& operator=(const XlibDisplay&) = delete;

  _XDisplay* get() const { return display_; }
  int fd() const;
  // True once the connection broke (the server went away or closed us).
  bool lost() const { return lost_.load(std::memory_order_acquire); }

 private:
  explicit XlibDisplay(_XDisplay* display) : display_(display) {}
  static void onExit(_XDisplay* display, void* self);

  _XDisplay* display_;
  std::atomic<bool> lost_{false};
};

}  // namespace vistrelle::xlib
