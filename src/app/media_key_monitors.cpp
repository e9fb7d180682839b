#include "app/media_key_monitors.h"

#include "base/log/orvex_log.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {

MediaKeyMonitors::MediaKeyMonitors(GlassVolumeControl& volume, Options options)
    : volume_(volume), options_(std::move(options)) {
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.log) options_.log = [](std::string_view line) { OrvexLog::logMessage(line); };
}

MediaKeyMonitors::~MediaKeyMonitors() {
  if (installed_ && options_.source) options_.source->stop();
}

void MediaKeyMonitors::installMediaKeyMonitors() {
  if (installed_) return;
  if (!options_.source) options_.source = mediakeys::MediaKeySource::system();
  std::weak_ptr<bool> alive = alive_;
  dispatch::ExecutorPtr main = options_.mainQueue;
  GlassVolumeControl* volume = &volume_;
  std::string error;
  const bool started = options_.source->start(
      [alive, main, volume](const mediakeys::MediaKeyEvent& key) {
        const SystemDefinedEvent event = SystemDefinedEvent::fromMediaKey(key);
        main->post([alive, volume, event] {
          if (alive.lock()) volume->handleMediaKeyGlobalEvent(event);
        });
      },
      &error);
  if (!started) {
    options_.log("media keys unavailable: " + error);
    return;
  }
  installed_ = true;
}

}  // namespace vistrelle
