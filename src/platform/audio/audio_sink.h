#pragma once

#include <cstdint>
#include <string>

namespace vistrelle::audio {

// One output device of the sound server.
struct AudioSink {
  uint32_t index = 0;       // the server's id; 0 is a valid one
  std::string name;         // the server's name ("alsa_output.usb-...")
  std::string description;  // what the user sees ("ORVEX Audio")
  // The loudest channel's volume, 1 at the device's nominal full volume
  // (above 1 when the server amplifies).
  float volume = 0;
  bool muted = false;
};

enum class SinkEventKind { Added, Changed, Removed, ServerLost };

// A sink came, changed (volume, mute, state: the event does not say which)
// or went; or the connection to the server was lost (index 0).
struct SinkEvent {
  SinkEventKind kind = SinkEventKind::Changed;
  uint32_t index = 0;
  bool operator==(const SinkEvent&) const = default;
};

}  // namespace vistrelle::audio
