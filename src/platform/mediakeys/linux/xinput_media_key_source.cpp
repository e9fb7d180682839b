#include "platform/mediakeys/linux/xinput_media_key_source.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "platform/dispatch/runtime.h"

namespace vistrelle::mediakeys {

std::shared_ptr<MediaKeySource> MediaKeySource::system(const std::string& display) {
  return XInputMediaKeySource::create(display);
}

std::shared_ptr<XInputMediaKeySource> XInputMediaKeySource::create(std::string display) {
  return std::shared_ptr<XInputMediaKeySource>(new XInputMediaKeySource(std::move(display)));
}

XInputMediaKeySource::XInputMediaKeySource(std::string display)
    : displayName_(std::move(display)) {}

XInputMediaKeySource::~XInputMediaKeySource() {
  stop();
}

bool XInputMediaKeySource::start(Handler handler, std::string* error) {
  auto fail = [error](std::string reason) {
    if (error) *error = std::move(reason);
    return false;
  };
  std::lock_guard lock(startMutex_);
  if (started_) return fail("the media keys are already being watched");
  if (!handler) return fail("no handler");
  if (!dispatch::Runtime::installed()) return fail("no runtime to watch the X connection");

  std::string reason;
  std::unique_ptr<xlib::XlibDisplay> display = xlib::XlibDisplay::open(displayName_, &reason);
  if (!display) return fail(reason);
  Display* x = display->get();
  int opcode = 0;
  int firstEvent = 0;
  int firstError = 0;
  if (!XQueryExtension(x, "XInputExtension", &opcode, &firstEvent, &firstError)) {
    return fail("the X server has no XInput extension");
  }
  int major = 2;
  int minor = 2;
  if (XIQueryVersion(x, &major, &minor) != Success || major < 2) {
    return fail("the X server has no XInput2");
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  // Master devices only: a key then arrives once, not once more for the
  // physical (slave) keyboard it came from.
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
  XISelectEvents(x, DefaultRootWindow(x), &mask, 1);
  // A remapped keyboard: with XKB (every server today) the core
  // MappingNotify comes only to clients that ask XKB for map changes.
  int xkbOpcode = 0;
  int xkbEvent = -1;
  int xkbError = 0;
  int xkbMajor = XkbMajorVersion;
  int xkbMinor = XkbMinorVersion;
  if (XkbQueryExtension(x, &xkbOpcode, &xkbEvent, &xkbError, &xkbMajor, &xkbMinor)) {
    const unsigned int changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
    XkbSelectEvents(x, XkbUseCoreKbd, changes, changes);
  } else {
    xkbEvent = -1;
  }
  XSync(x, False);
  if (display->lost()) return fail("the X server went away");

  dispatch::Runtime& runtime = dispatch::Runtime::shared();
  queue_ = runtime.makeSerialQueue("mediakeys");
  display_ = std::move(display);
  opcode_ = opcode;
  xkbEvent_ = xkbEvent;
  handler_ = std::move(handler);
  readMapping();
  reader_ = runtime.reactor().makeReadSource(display_->fd(), queue_);
  std::weak_ptr<XInputMediaKeySource> weak = weak_from_this();
  reader_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->pump();
  });
  reader_->resume();
  started_ = true;
  listening_.store(true, std::memory_order_release);
  stopRegistration_ = runtime.registerStop("mediakeys", [weak] {
    if (auto self = weak.lock()) self->stop();
  });
  // Events that arrived with the replies above are already in Xlib's queue,
  // where the descriptor no longer shows them.
  queue_->post([weak] {
    if (auto self = weak.lock()) self->pump();
  });
  return true;
}

void XInputMediaKeySource::stop() {
  dispatch::SerialQueuePtr queue;
  {
    std::lock_guard lock(startMutex_);
    if (!started_) return;
    started_ = false;
    queue = queue_;
  }
  if (queue->isCurrent()) {
    teardown();
  } else {
    queue->sync([this] { teardown(); });
  }
  stopRegistration_.reset();
}

void XInputMediaKeySource::teardown() {
  listening_.store(false, std::memory_order_release);
  // The reactor stops watching the descriptor before Xlib closes it.
  if (reader_) reader_->cancel();
  reader_.reset();
  display_.reset();
  handler_ = nullptr;
}

void XInputMediaKeySource::readMapping() {
  Display* x = display_->get();
  int first = 0;
  int last = 0;
  XDisplayKeycodes(x, &first, &last);
  int perKeycode = 0;
  KeySym* keysyms =
      XGetKeyboardMapping(x, static_cast<KeyCode>(first), last - first + 1, &perKeycode);
  std::vector<uint32_t> table;
  if (keysyms != nullptr) {
    const size_t count = static_cast<size_t>(last - first + 1) * static_cast<size_t>(perKeycode);
    table.reserve(count);
    for (size_t i = 0; i < count; ++i) table.push_back(static_cast<uint32_t>(keysyms[i]));
    XFree(keysyms);
  }
  map_ = MediaKeyMap::fromMapping(first, perKeycode, table);
}

void XInputMediaKeySource::pump() {
  if (!display_) return;
  Display* x = display_->get();
  std::vector<MediaKeyEvent> events;
  // Several notices of one remap come together: the table is read once,
  // before the next key needs it.
  bool mappingChanged = false;
  for (;;) {
    while (!display_->lost() && XPending(x) > 0) {
      XEvent event;
      XNextEvent(x, &event);
      if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request == MappingKeyboard) mappingChanged = true;
        continue;
      }
      if (xkbEvent_ >= 0 && event.type == xkbEvent_) {
        const int kind = reinterpret_cast<const XkbEvent*>(&event)->any.xkb_type;
        if (kind == XkbMapNotify || kind == XkbNewKeyboardNotify) mappingChanged = true;
        continue;
      }
      XGenericEventCookie* cookie = &event.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode_) continue;
      if (cookie->evtype != XI_RawKeyPress && cookie->evtype != XI_RawKeyRelease) continue;
      // The event's data is taken and given back before anything else talks
      // to the server: a round trip drops the data of events not yet claimed
      // and frees what was claimed.
      if (!XGetEventData(x, cookie)) continue;
      const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
      const auto keycode = static_cast<uint32_t>(raw->detail);
      const bool down = cookie->evtype == XI_RawKeyPress;
      const bool repeat = (raw->flags & XIKeyRepeat) != 0;
      XFreeEventData(x, cookie);
      if (mappingChanged) {
        readMapping();
        mappingChanged = false;
      }
      if (std::optional<MediaKey> key = map_.keyFor(keycode))
        events.push_back({*key, down, repeat});
    }
    if (!mappingChanged || display_->lost()) break;
    readMapping();
    mappingChanged = false;
    // Its round trip may have queued events the descriptor no longer shows.
  }
  for (const MediaKeyEvent& event : events) {
    if (handler_) handler_(event);
  }
  if (display_ && display_->lost()) {
    // Nothing more will come; the descriptor would only report its end.
    listening_.store(false, std::memory_order_release);
    if (reader_) reader_->cancel();
    reader_.reset();
    display_.reset();
  }
}

}  // namespace vistrelle::mediakeys
