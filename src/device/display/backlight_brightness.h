#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "device/display/lazy_bus.h"

namespace vistrelle::device {

// The built-in panel's brightness through its backlight: read from sysfs
// (actual_brightness over max_brightness of the first backlight of type
// firmware, then platform, then raw), written through logind's
// Session.SetBrightness on the system bus (no privilege needed for the
// session's own seat), else straight into sysfs.
class BacklightBrightness {
 public:
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::string root = "/sys/class/backlight";
    std::shared_ptr<LazyBus> systemBus;  // null: sysfs only
    std::chrono::milliseconds busTimeout{1000};
    LogSink log;  // why a write failed, once per reason
  };

  explicit BacklightBrightness(Options options);

  // The backlight's folder name under the root, or none.
  std::optional<std::string> device() const;
  // 0..1; 0 when there is no backlight.
  float read();
  // Sets 0..1 (clamped; not a number: nothing); false when nothing could be
  // written.  A level equal to the last one written is dropped (a dimming
  // ramp repeats levels); a read that finds another level forgets it.
  bool write(float value);

 private:
  struct Levels {
    long actual = 0;
    long max = 0;
  };
  std::optional<Levels> levels(const std::string& device) const;
  bool writeThroughLogind(const std::string& device, long level);
  bool writeToSysfs(const std::string& device, long level);
  void logOnce(const std::string& reason);

  Options options_;
  std::mutex mutex_;
  std::optional<long> lastWritten_;
  std::string lastLogged_;
};

}  // namespace vistrelle::device
