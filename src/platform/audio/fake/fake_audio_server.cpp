#include "platform/audio/fake/fake_audio_server.h"

#include <algorithm>
#include <cmath>

namespace vistrelle::audio {

void FakeAudioServer::raise(SinkEvent event) {
  EventHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return;
    handler = handler_;
  }
  if (handler) handler(event);
}

uint32_t FakeAudioServer::addSink(std::string description, float volume, bool muted) {
  uint32_t index = 0;
  {
    std::lock_guard lock(mutex_);
    index = nextIndex_++;
    AudioSink sink;
    sink.index = index;
    sink.name = "sink" + std::to_string(index);
    sink.description = std::move(description);
    sink.volume = volume;
    sink.muted = muted;
    sinks_[index] = sink;
  }
  raise({SinkEventKind::Added, index});
  return index;
}

void FakeAudioServer::removeSink(uint32_t index) {
  {
    std::lock_guard lock(mutex_);
    if (sinks_.erase(index) == 0) return;
  }
  raise({SinkEventKind::Removed, index});
}

void FakeAudioServer::change(uint32_t index, float volume, bool muted) {
  {
    std::lock_guard lock(mutex_);
    auto found = sinks_.find(index);
    if (found == sinks_.end()) return;
    found->second.volume = volume;
    found->second.muted = muted;
  }
  raise({SinkEventKind::Changed, index});
}

void FakeAudioServer::touch(uint32_t index) {
  raise({SinkEventKind::Changed, index});
}

void FakeAudioServer::setServerRunning(bool running) {
  std::lock_guard lock(mutex_);
  running_ = running;
  if (!running) connected_ = false;
}

void FakeAudioServer::dropConnection() {
  EventHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return;
    connected_ = false;
    handler = handler_;
  }
  if (handler) handler({SinkEventKind::ServerLost, 0});
}

std::vector<std::string> FakeAudioServer::sets() const {
  std::lock_guard lock(mutex_);
  return sets_;
}

void FakeAudioServer::setEventHandler(EventHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

bool FakeAudioServer::connect() {
  connects_.fetch_add(1);
  std::lock_guard lock(mutex_);
  connected_ = running_;
  return connected_;
}

bool FakeAudioServer::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

void FakeAudioServer::disconnect() {
  std::lock_guard lock(mutex_);
  connected_ = false;
}

std::vector<AudioSink> FakeAudioServer::sinks() {
  std::lock_guard lock(mutex_);
  std::vector<AudioSink> all;
  if (!connected_) return all;
  for (const auto& [index, sink] : sinks_) all.push_back(sink);
  return all;
}

std::optional<AudioSink> FakeAudioServer::sink(uint32_t index) {
  std::lock_guard lock(mutex_);
  auto found = sinks_.find(index);
  if (!connected_ || found == sinks_.end()) return std::nullopt;
  return found->second;
}

bool FakeAudioServer::setVolume(uint32_t index, float volume) {
  if (std::isnan(volume)) return false;
  {
    std::lock_guard lock(mutex_);
    auto found = sinks_.find(index);
    if (!connected_ || found == sinks_.end()) return false;
    found->second.volume = std::clamp(volume, 0.0f, 1.0f);
    sets_.push_back("volume " + std::to_string(index) + " " + std::to_string(found->second.volume));
  }
  raise({SinkEventKind::Changed, index});
  return true;
}

bool FakeAudioServer::setMute(uint32_t index, bool muted) {
  {
    std::lock_guard lock(mutex_);
    auto found = sinks_.find(index);
    if (!connected_ || found == sinks_.end()) return false;
    found->second.muted = muted;
    sets_.push_back("mute " + std::to_string(index) + " " + (muted ? "1" : "0"));
  }
  raise({SinkEventKind::Changed, index});
  return true;
}

}  // namespace vistrelle::audio
