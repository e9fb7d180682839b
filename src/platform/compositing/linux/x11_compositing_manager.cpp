#include "platform/compositing/linux/x11_compositing_manager.h"

#include <cstdlib>
#include <memory>

namespace vistrelle::compositing {

namespace {

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

}  // namespace

X11CompositingManager::X11CompositingManager(std::string display) : display_(std::move(display)) {}

X11CompositingManager::~X11CompositingManager() {
  disconnect();
}

void X11CompositingManager::disconnect() {
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  selection_ = XCB_ATOM_NONE;
}

bool X11CompositingManager::connect() {
  if (connection_ && !xcb_connection_has_error(connection_)) return true;
  disconnect();
  int screen = 0;
  connection_ = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screen);
  if (xcb_connection_has_error(connection_)) {
    disconnect();
    return false;
  }
  const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
  Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection_,
      xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
  if (!atom) {
    disconnect();
    return false;
  }
  selection_ = atom->atom;
  return true;
}

bool X11CompositingManager::isActive() {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      connection_, xcb_get_selection_owner(connection_, selection_), nullptr));
  if (!owner) {
    // A lost connection is opened again next time.
    if (xcb_connection_has_error(connection_)) disconnect();
    return false;
  }
  return owner->owner != XCB_WINDOW_NONE;
}

}  // namespace vistrelle::compositing
