#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_sink.h"

namespace vistrelle::audio {

// A connection to the sound server: its output devices, their volume and
// mute state, and events when they come, change or go.  Every call may come
// from any thread and waits for the server at most a bounded time; a call
// without a connection fails at once.  The event handler runs on the
// server's own thread.
class AudioServer {
 public:
  // Should only hand the event on; calling back into the server from it
  // would wait on the thread that runs it.
  using EventHandler = std::function<void(const SinkEvent&)>;

  virtual ~AudioServer() = default;

  virtual void setEventHandler(EventHandler handler) = 0;
  // Connects unless connected; true once connected.  Never starts a server.
  virtual bool connect() = 0;
  virtual bool connected() const = 0;
  // Closes the connection.  Idempotent.
  virtual void disconnect() = 0;

  // Empty when not connected.
  virtual std::vector<AudioSink> sinks() = 0;
  virtual std::optional<AudioSink> sink(uint32_t index) = 0;
  // Scales the sink's channels so that the loudest is at `volume` (0..1,
  // clamped; the balance is kept).  False when not done.
  virtual bool setVolume(uint32_t index, float volume) = 0;
  virtual bool setMute(uint32_t index, bool muted) = 0;

  // The PulseAudio back-end: `server` as libpulse names one
  // ("unix:/run/user/1000/pulse/native"); empty: the user's default.
  static std::shared_ptr<AudioServer> system(std::string server = {});
};

}  // namespace vistrelle::audio
