#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/glass_volume_control.h"
#include "platform/dispatch/executor.h"
#include "platform/mediakeys/media_key_source.h"

namespace vistrelle {

// The media-key monitors, installed once the application may listen to the
// keyboard: every media key the keyboard sends (the application's own
// windows or any other) reaches GlassVolumeControl on the main queue.
class MediaKeyMonitors {
 public:
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<mediakeys::MediaKeySource> source;  // default: the X11 keyboard
    dispatch::ExecutorPtr mainQueue;                    // default: the runtime's main queue
    LogSink log;  // why the keys cannot be had; default: the text log
  };

  MediaKeyMonitors(GlassVolumeControl& volume, Options options);
  ~MediaKeyMonitors();
  MediaKeyMonitors(const MediaKeyMonitors&) = delete;
  MediaKeyMonitors& operator=(const MediaKeyMonitors&) = delete;

  // Installs the monitors; once installed, further calls do nothing.  A
  // source that cannot start is logged and tried again at the next call.
  void installMediaKeyMonitors();
  bool installed() const { return installed_; }

 private:
  GlassVolumeControl& volume_;
  Options options_;
  bool installed_ = false;
  // Events already posted to the main queue check it before they run.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vistrelle
