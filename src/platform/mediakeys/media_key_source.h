#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/mediakeys/media_key.h"

namespace vistrelle::mediakeys {

// Delivers the presses and releases of the keyboard's media keys, whichever
// window has the focus (the application listens in the background and never
// takes the keys away from anyone).
class MediaKeySource {
 public:
  // Runs on the source's own queue, one event at a time; it should hand the
  // event on and return.
  using Handler = std::function<void(const MediaKeyEvent&)>;

  virtual ~MediaKeySource() = default;

  // Starts delivering to `handler`.  False with the reason when the keys
  // cannot be had (no X server, no XInput2); a second start while running is
  // refused.
  virtual bool start(Handler handler, std::string* error) = 0;
  // Stops delivering: no handler starts once this returns.  Idempotent.
  virtual void stop() = 0;

  // The X11 back-end on `display` ($DISPLAY when empty).
  static std::shared_ptr<MediaKeySource> system(const std::string& display = {});
};

}  // namespace vistrelle::mediakeys
