#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/state/main_state.h"
#include "platform/audio/audio_server.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// Follows the volume and mute state of the glasses' audio device (second-
// generation glasses are an ordinary sound device) and reports them as
// "SystemVolumeListener_Notification_Name" with a float object: the volume
// 0..1, or 0 while muted.  The device is the sink whose description holds
// "orvex" (any case); the last one listed wins.
//
// Every call returns at once: the work runs on the audio queue, one step at
// a time, and the notification is posted from there.  The device is looked
// up again at each add and whenever a sink appears while the glasses are
// attached, and forgotten when its sink goes, so a glasses re-plug that
// brings the sink back under a new index is followed.
class OrvexAudioVolume : public std::enable_shared_from_this<OrvexAudioVolume> {
 public:
  static constexpr const char* kSystemVolumeNotification = "SystemVolumeListener_Notification_Name";
  // Volumes closer than one step of the server's scale are the same volume.
  static constexpr float kVolumeTolerance = 1.0f / 65536;

  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<audio::AudioServer> server;  // default: the user's PulseAudio server
    dispatch::ExecutorPtr queue;                 // default: a serial queue of its own
    NotificationCenter* center = nullptr;        // default: the default centre
    MainState* state = nullptr;                  // default: MainState::shared()
    LogSink print;                               // the device search's lines; default: stdout
  };

  static std::shared_ptr<OrvexAudioVolume> create(Options options);
  // The process' instance, made at first use on the runtime's pool.
  static OrvexAudioVolume& shared();

  // Starts following the device: found now, or when its sink appears while
  // the glasses stay attached.  Once found, its volume is remembered without
  // a post and its mute state read and posted.  Calling it again starts over.
  void addAudioOutputVolumeListener();
  void removeAudioOutputVolumeListener();
  // Sets the device's volume (0..1); 0 or less also mutes it, more unmutes a
  // muted device.
  void changeAudioOutputVolumeValue(float volume);
  // The followed device, else a fresh search (which it does not keep).
  // Waits for the sound server: call it off the main thread.
  std::optional<uint32_t> getAudioDevices();

  std::optional<uint32_t> deviceID() const;
  bool isListening() const;

 private:
  explicit OrvexAudioVolume(Options options);

  // On the queue.
  void onSinkEvent(const audio::SinkEvent& event);
  std::optional<audio::AudioSink> findDevice();
  void resolve();
  void readVolume(float volume, bool quiet);
  void readMute(bool muted);
  void post(float value);
  void onQueue(std::function<void(OrvexAudioVolume&)> work);

  Options options_;
  NotificationCenter& center_;
  MainState& state_;

  // Shared with the sound server's thread through the queue; one lock.
  mutable std::mutex mutex_;
  std::optional<uint32_t> device_;
  float lastVolume_ = 0;
  bool lastMute_ = false;
  bool listening_ = false;
};

}  // namespace vistrelle::device
