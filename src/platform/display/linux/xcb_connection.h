// One connection to an X server whose every wait has a deadline: requests
// are sent as usual, and their answers are collected by polling the socket,
// never by xcb's own blocking waits, so a server that stops answering costs
// the caller its deadline and no more.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "platform/display/display_result.h"

namespace vistrelle::display {

using Deadline = std::chrono::steady_clock::time_point;

// xcb's replies and errors are malloc'ed.
struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

class XcbConnection {
 public:
  // Connects to `displayName` ($DISPLAY when empty); none with the reason.
  // The connection set-up itself is xcb's (a server that accepts and then
  // never answers holds it up).
  static std::unique_ptr<XcbConnection> open(const std::string& displayName, DisplayError* error);

  ~XcbConnection();
  XcbConnection(const XcbConnection&) = delete;
  XcbConnection& operator=(const XcbConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return root_; }
  bool broken() const { return xcb_connection_has_error(connection_) != 0; }

  // The reply to request `sequence`, or why there is none: the server's
  // error (Refused, naming `what`), Lost or Timeout.
  template <class T>
  DisplayResult<XcbReply<T>> reply(unsigned int sequence, Deadline deadline, const char* what) {
    void* raw = nullptr;
    DisplayResult<void> waited = wait(sequence, deadline, what, &raw);
    if (!waited) return waited.error();
    return XcbReply<T>(static_cast<T*>(raw));
  }

  // Checks requests sent with their _checked variants (no reply of their
  // own): one round trip, then each request's error.  The first error wins.
  DisplayResult<void> check(std::span<const xcb_void_cookie_t> cookies, Deadline deadline,
                            const char* what);

  // Drops any events that arrived (none is selected; errors of unchecked
  // requests would land there).
  void discardEvents();

 private:
  XcbConnection(xcb_connection_t* connection, xcb_window_t root)
      : connection_(connection), root_(root) {}
  DisplayResult<void> wait(unsigned int sequence, Deadline deadline, const char* what,
                           void** reply);

  xcb_connection_t* connection_;
  xcb_window_t root_;
};

}  // namespace vistrelle::display
