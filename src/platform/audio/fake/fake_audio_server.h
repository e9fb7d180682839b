#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/audio_server.h"

namespace vistrelle::audio {

// A sound server in memory for the callers' tests.  Changes made through it
// (or by the test, playing another program) raise the events a real server
// would, on the calling thread.
class FakeAudioServer final : public AudioServer {
 public:
  // Adds a sink (Added event) and returns its index; indexes are never reused.
  uint32_t addSink(std::string description, float volume = 1.0f, bool muted = false);
  void removeSink(uint32_t index);
  // As another program would: the state changes and one Changed event says so.
  void change(uint32_t index, float volume, bool muted);
  // Raises a Changed event without changing anything (a suspend, say).
  void touch(uint32_t index);
  // Without a server, connect() fails at once.
  void setServerRunning(bool running);
  // The connection breaks: ServerLost, and calls fail until connect().
  void dropConnection();

  int connectCount() const { return connects_.load(); }
  // Every set call made through the interface, as "volume <index> <value>"
  // and "mute <index> <0|1>".
  std::vector<std::string> sets() const;

  void setEventHandler(EventHandler handler) override;
  bool connect() override;
  bool connected() const override;
  void disconnect() override;
  std::vector<AudioSink> sinks() override;
  std::optional<AudioSink> sink(uint32_t index) override;
  bool setVolume(uint32_t index, float volume) override;
  bool setMute(uint32_t index, bool muted) override;

 private:
  void raise(SinkEvent event);

  mutable std::mutex mutex_;
  EventHandler handler_;
  std::map<uint32_t, AudioSink> sinks_;
  uint32_t nextIndex_ = 0;
  bool running_ = true;
  bool connected_ = false;
  std::vector<std::string> sets_;
  std::atomic<int> connects_{0};
};

}  // namespace vistrelle::audio
