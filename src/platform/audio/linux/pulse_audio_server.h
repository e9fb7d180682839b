#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/audio_server.h"
#include "platform/dispatch/stop_registration.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace vistrelle::audio {

// The sound server through libpulse's threaded main loop: the loop's thread
// runs libpulse and the event handler; callers start an operation under the
// loop's lock and wait for its answer on a condition of ours, bounded by
// `timeout` (an operation still unanswered then is cancelled).  It never
// asks libpulse to spawn a server: without one there is no device.  Once
// connected, disconnect() is registered with the runtime's stops (when one is
// installed), so the loop's thread ends before the runtime does.
class PulseAudioServer final : public AudioServer,
                               public std::enable_shared_from_this<PulseAudioServer> {
 public:
  struct Options {
    std::string server;  // empty: libpulse's default
    std::string clientName = "Vistrelle";
    std::chrono::milliseconds timeout{2000};
  };

  static std::shared_ptr<PulseAudioServer> create(Options options);
  ~PulseAudioServer() override;

  void setEventHandler(EventHandler handler) override;
  bool connect() override;
  bool connected() const override { return ready_.load(std::memory_order_acquire); }
  void disconnect() override;

  std::vector<AudioSink> sinks() override;
  std::optional<AudioSink> sink(uint32_t index) override;
  bool setVolume(uint32_t index, float volume) override;
  bool setMute(uint32_t index, bool muted) override;

  struct Call;
  // From the loop's thread: `call` has its answer.
  void answered(Call& call);

 private:
  explicit PulseAudioServer(Options options);

  // mutex_ held for all below.
  void teardown();
  // Waits (bounded) for the operation `started` under the loop's lock;
  // false when it failed, timed out or the connection went.
  bool finish(pa_operation* operation, Call& call);
  bool usable() const;

  static void onState(pa_context* context, void* self);
  static void onEvent(pa_context* context, int type, uint32_t index, void* self);
  void deliver(const SinkEvent& event);

  const Options options_;
  mutable std::mutex mutex_;  // one caller at a time
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  dispatch::StopRegistration stop_;

  std::atomic<bool> ready_{false};
  // Signalled by the loop's thread: an answer arrived or the state changed.
  std::mutex waitMutex_;
  std::condition_variable changed_;
  std::atomic<bool> failed_{false};

  std::mutex handlerMutex_;
  EventHandler handler_;
};

}  // namespace vistrelle::audio
