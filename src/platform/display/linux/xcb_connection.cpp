#include "platform/display/linux/xcb_connection.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <cerrno>

namespace vistrelle::display {

std::unique_ptr<XcbConnection> XcbConnection::open(const std::string& displayName,
                                                   DisplayError* error) {
  const char* name = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
  if (name == nullptr || *name == '\0') {
    *error = {DisplayError::Kind::NoServer, "no X11 display: DISPLAY is not set"};
    return nullptr;
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(name, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    *error = {DisplayError::Kind::NoServer,
              std::string("cannot open X11 display \"") + name + "\""};
    return nullptr;
  }
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    xcb_disconnect(connection);
    *error = {DisplayError::Kind::NoServer,
              std::string("X11 display \"") + name + "\" has no such screen"};
    return nullptr;
  }
  return std::unique_ptr<XcbConnection>(new XcbConnection(connection, screens.data->root));
}

XcbConnection::~XcbConnection() {
  xcb_disconnect(connection_);
}

DisplayResult<void> XcbConnection::wait(unsigned int sequence, Deadline deadline, const char* what,
                                        void** reply) {
  if (xcb_flush(connection_) <= 0) {
    return DisplayError{DisplayError::Kind::Lost, "the X server connection is lost"};
  }
  for (;;) {
    xcb_generic_error_t* error = nullptr;
    // Reads what the socket holds without blocking, then looks for the answer.
    if (xcb_poll_for_reply(connection_, sequence, reply, &error) != 0) {
      if (error != nullptr) {
        const int code = error->error_code;
        std::free(error);
        return DisplayError{DisplayError::Kind::Refused,
                            std::string(what) + ": X error " + std::to_string(code)};
      }
      return {};
    }
    if (broken()) return DisplayError{DisplayError::Kind::Lost, "the X server connection is lost"};
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return DisplayError{DisplayError::Kind::Timeout,
                          std::string(what) + ": the X server did not answer in time"};
    }
    pollfd socket{xcb_get_file_descriptor(connection_), POLLIN, 0};
    if (::poll(&socket, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      return DisplayError{DisplayError::Kind::Lost, "the X server connection is lost"};
    }
  }
}

DisplayResult<void> XcbConnection::check(std::span<const xcb_void_cookie_t> cookies,
                                         Deadline deadline, const char* what) {
  // Any later answer tells that every earlier request is done: their errors,
  // if any, have arrived before it.
  const xcb_get_input_focus_cookie_t sync = xcb_get_input_focus(connection_);
  auto synced = reply<xcb_get_input_focus_reply_t>(sync.sequence, deadline, what);
  if (!synced) return synced.error();
  for (const xcb_void_cookie_t& cookie : cookies) {
    void* nothing = nullptr;
    DisplayResult<void> done = wait(cookie.sequence, deadline, what, &nothing);
    std::free(nothing);
    if (!done) return done;
  }
  return {};
}

void XcbConnection::discardEvents() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
}

}  // namespace vistrelle::display
