#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/io_source.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/mediakeys/media_key_map.h"
#include "platform/mediakeys/media_key_source.h"
#include "platform/xlib/xlib_display.h"

namespace vistrelle::mediakeys {

// Media keys from XInput2 raw key events on the root window: every key the
// X server's keyboards send, whichever client has the focus, without a grab
// (nobody loses the key).  The connection is its own; its socket is watched
// by the runtime's reactor and read on a serial queue of its own, where the
// handler runs.  Keycodes are mapped through the server's keyboard mapping,
// read again when it changes.  A server that goes away ends the events, not
// the process.  Needs the runtime; start() registers stop() with its stops.
class XInputMediaKeySource final : public MediaKeySource,
                                   public std::enable_shared_from_this<XInputMediaKeySource> {
 public:
  static std::shared_ptr<XInputMediaKeySource> create(std::string display);
  ~XInputMediaKeySource() override;

  bool start(Handler handler, std::string* error) override;
  void stop() override;
  // True from a successful start until stop() or the server's loss.
  bool listening() const { return listening_.load(std::memory_order_acquire); }

 private:
  explicit XInputMediaKeySource(std::string display);

  // On queue_.
  void pump();
  void readMapping();
  void teardown();

  const std::string displayName_;
  std::mutex startMutex_;
  bool started_ = false;
  dispatch::SerialQueuePtr queue_;
  dispatch::StopRegistration stopRegistration_;

  // On queue_ once started.
  std::unique_ptr<xlib::XlibDisplay> display_;
  dispatch::IoSourcePtr reader_;
  int opcode_ = 0;
  int xkbEvent_ = -1;  // XKB's event type, -1 without XKB
  MediaKeyMap map_;
  Handler handler_;
  std::atomic<bool> listening_{false};
};

}  // namespace vistrelle::mediakeys
