#include "device/audio/orvex_audio_volume.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/dispatch/runtime.h"

namespace vistrelle::device {
namespace {

bool namesGlasses(const std::string& description) {
  std::string lower = description;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("orvex") != std::string::npos;
}

// The notification carries 0..1; a server may amplify past its nominal full
// volume.
float normalised(float volume) {
  return std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f);
}

}  // namespace

std::shared_ptr<OrvexAudioVolume> OrvexAudioVolume::create(Options options) {
  std::shared_ptr<OrvexAudioVolume> volume(new OrvexAudioVolume(std::move(options)));
  std::weak_ptr<OrvexAudioVolume> weak = volume;
  dispatch::ExecutorPtr queue = volume->options_.queue;
  // The server's thread only hands the event to the queue; it never holds
  // this object, whose last owner could otherwise leave it to that thread
  // to destroy (and with it the server, whose thread cannot stop itself).
  volume->options_.server->setEventHandler([weak, queue](const audio::SinkEvent& event) {
    queue->post([weak, event] {
      if (auto self = weak.lock()) self->onSinkEvent(event);
    });
  });
  return volume;
}

OrvexAudioVolume& OrvexAudioVolume::shared() {
  static std::shared_ptr<OrvexAudioVolume>* instance =
      new std::shared_ptr<OrvexAudioVolume>(create({}));
  return **instance;
}

OrvexAudioVolume::OrvexAudioVolume(Options options)
    : options_(std::move(options)),
      center_(options_.center ? *options_.center : NotificationCenter::defaultCenter()),
      state_(options_.state ? *options_.state : MainState::shared()) {
  if (!options_.server) options_.server = audio::AudioServer::system();
  if (!options_.queue) options_.queue = dispatch::makeSerialQueue("audio");
  if (!options_.print) {
    options_.print = [](std::string_view line) {
      std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
      std::fflush(stdout);
    };
  }
}

void OrvexAudioVolume::onQueue(std::function<void(OrvexAudioVolume&)> work) {
  std::weak_ptr<OrvexAudioVolume> weak = weak_from_this();
  options_.queue->post([weak, work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

void OrvexAudioVolume::addAudioOutputVolumeListener() {
  onQueue([](OrvexAudioVolume& volume) {
    {
      std::lock_guard lock(volume.mutex_);
      volume.listening_ = true;
      // Looked up afresh: the sink may have come back under another index.
      volume.device_.reset();
    }
    volume.resolve();
  });
}

void OrvexAudioVolume::removeAudioOutputVolumeListener() {
  onQueue([](OrvexAudioVolume& volume) {
    std::lock_guard lock(volume.mutex_);
    volume.listening_ = false;
    volume.device_.reset();
  });
}

void OrvexAudioVolume::changeAudioOutputVolumeValue(float volume) {
  if (std::isnan(volume)) return;
  onQueue([volume](OrvexAudioVolume& self) {
    const std::optional<uint32_t> device = self.getAudioDevices();
    if (!device) return;
    audio::AudioServer& server = *self.options_.server;
    server.setVolume(*device, volume);
    if (volume <= 0) {
      server.setMute(*device, true);
      return;
    }
    // The server's own state, not the last one seen: without a listener
    // nothing keeps that one current.
    const std::optional<audio::AudioSink> sink = server.sink(*device);
    if (sink && sink->muted) server.setMute(*device, false);
  });
}

std::optional<uint32_t> OrvexAudioVolume::getAudioDevices() {
  {
    std::lock_guard lock(mutex_);
    if (device_) return device_;
  }
  std::optional<audio::AudioSink> found = findDevice();
  if (!found) return std::nullopt;
  return found->index;
}

std::optional<audio::AudioSink> OrvexAudioVolume::findDevice() {
  audio::AudioServer& server = *options_.server;
  if (!server.connect()) return std::nullopt;
  std::optional<audio::AudioSink> found;
  for (const audio::AudioSink& sink : server.sinks()) {
    options_.print("--name = " + sink.description + "--");
    if (!namesGlasses(sink.description)) continue;
    // A sink is one output: it always has its stream.
    options_.print("streamCount = 1");
    found = sink;
  }
  return found;
}

void OrvexAudioVolume::resolve() {
  std::optional<audio::AudioSink> found = findDevice();
  if (!found) return;
  {
    std::lock_guard lock(mutex_);
    if (!listening_) return;
    device_ = found->index;
  }
  readVolume(found->volume, /*quiet=*/true);
  readMute(found->muted);
}

void OrvexAudioVolume::onSinkEvent(const audio::SinkEvent& event) {
  switch (event.kind) {
    case audio::SinkEventKind::Added: {
      {
        std::lock_guard lock(mutex_);
        if (!listening_ || device_) return;
      }
      if (state_.glassStatus.load()) resolve();
      return;
    }
    case audio::SinkEventKind::Removed: {
      std::lock_guard lock(mutex_);
      if (device_ == event.index) device_.reset();
      return;
    }
    case audio::SinkEventKind::ServerLost: {
      std::lock_guard lock(mutex_);
      device_.reset();
      return;
    }
    case audio::SinkEventKind::Changed:
      break;
  }
  {
    std::lock_guard lock(mutex_);
    if (device_ != event.index) return;
  }
  const std::optional<audio::AudioSink> sink = options_.server->sink(event.index);
  if (!sink) return;
  // One event for volume, mute and anything else: what it changed decides
  // which reads run, and nothing runs when neither moved.
  bool volumeMoved = false;
  bool muteMoved = false;
  {
    std::lock_guard lock(mutex_);
    if (device_ != event.index) return;
    volumeMoved = std::fabs(normalised(sink->volume) - lastVolume_) > kVolumeTolerance;
    muteMoved = sink->muted != lastMute_;
  }
  if (volumeMoved) readVolume(sink->volume, /*quiet=*/false);
  if (muteMoved) readMute(sink->muted);
}

void OrvexAudioVolume::readVolume(float volume, bool quiet) {
  volume = normalised(volume);
  {
    std::lock_guard lock(mutex_);
    if (std::fabs(volume - lastVolume_) <= kVolumeTolerance) return;
    lastVolume_ = volume;
  }
  if (!quiet) post(volume);
}

void OrvexAudioVolume::readMute(bool muted) {
  float value = 0;
  {
    std::lock_guard lock(mutex_);
    lastMute_ = muted;
    value = muted ? 0.0f : lastVolume_;
  }
  post(value);
}

void OrvexAudioVolume::post(float value) {
  center_.post(kSystemVolumeNotification, Value(value));
}

std::optional<uint32_t> OrvexAudioVolume::deviceID() const {
  std::lock_guard lock(mutex_);
  return device_;
}

bool OrvexAudioVolume::isListening() const {
  std::lock_guard lock(mutex_);
  return listening_;
}

}  // namespace vistrelle::device
