#include "platform/audio/linux/pulse_audio_server.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/dispatch/runtime.h"

namespace vistrelle::audio {

// One operation's answer, written by the loop's thread under waitMutex_.
struct PulseAudioServer::Call {
  PulseAudioServer* server = nullptr;
  bool done = false;
  bool ok = false;
  std::vector<AudioSink> sinks;
  std::vector<pa_cvolume> volumes;  // beside sinks, for a scaled set
};

namespace {

float volumeOf(const pa_cvolume& volume) {
  return static_cast<float>(pa_cvolume_max(&volume)) / static_cast<float>(PA_VOLUME_NORM);
}

AudioSink sinkOf(const pa_sink_info& info) {
  AudioSink sink;
  sink.index = info.index;
  sink.name = info.name ? info.name : "";
  sink.description = info.description ? info.description : "";
  sink.volume = volumeOf(info.volume);
  sink.muted = info.mute != 0;
  return sink;
}

using Call = PulseAudioServer::Call;

void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* data);
void onSuccess(pa_context* context, int success, void* data);

}  // namespace

std::shared_ptr<AudioServer> AudioServer::system(std::string server) {
  PulseAudioServer::Options options;
  options.server = std::move(server);
  return PulseAudioServer::create(std::move(options));
}

std::shared_ptr<PulseAudioServer> PulseAudioServer::create(Options options) {
  return std::shared_ptr<PulseAudioServer>(new PulseAudioServer(std::move(options)));
}

PulseAudioServer::PulseAudioServer(Options options) : options_(std::move(options)) {}

PulseAudioServer::~PulseAudioServer() {
  std::lock_guard lock(mutex_);
  teardown();
}

void PulseAudioServer::setEventHandler(EventHandler handler) {
  std::lock_guard lock(handlerMutex_);
  handler_ = std::move(handler);
}

void PulseAudioServer::answered(Call& call) {
  {
    std::lock_guard lock(waitMutex_);
    call.done = true;
  }
  changed_.notify_all();
}

void PulseAudioServer::deliver(const SinkEvent& event) {
  EventHandler handler;
  {
    std::lock_guard lock(handlerMutex_);
    handler = handler_;
  }
  if (handler) handler(event);
}

void PulseAudioServer::onState(pa_context* context, void* self) {
  auto* server = static_cast<PulseAudioServer*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  const bool wasReady = server->ready_.load(std::memory_order_acquire);
  if (state == PA_CONTEXT_READY) {
    server->ready_.store(true, std::memory_order_release);
  } else if (!PA_CONTEXT_IS_GOOD(state)) {
    server->ready_.store(false, std::memory_order_release);
    server->failed_.store(true, std::memory_order_release);
  }
  { std::lock_guard lock(server->waitMutex_); }
  server->changed_.notify_all();
  if (wasReady && !PA_CONTEXT_IS_GOOD(state)) {
    server->deliver({SinkEventKind::ServerLost, 0});
  }
}

void PulseAudioServer::onEvent(pa_context*, int type, uint32_t index, void* self) {
  const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  if (facility != PA_SUBSCRIPTION_EVENT_SINK) return;
  SinkEvent event{SinkEventKind::Changed, index};
  switch (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) {
    case PA_SUBSCRIPTION_EVENT_NEW:
      event.kind = SinkEventKind::Added;
      break;
    case PA_SUBSCRIPTION_EVENT_REMOVE:
      event.kind = SinkEventKind::Removed;
      break;
    default:
      break;
  }
  static_cast<PulseAudioServer*>(self)->deliver(event);
}

bool PulseAudioServer::connect() {
  std::lock_guard lock(mutex_);
  if (usable()) return true;
  teardown();
  failed_.store(false, std::memory_order_release);

  loop_ = pa_threaded_mainloop_new();
  if (!loop_) return false;
  if (pa_threaded_mainloop_start(loop_) < 0) {
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    return false;
  }
  pa_threaded_mainloop_lock(loop_);
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), options_.clientName.c_str());
  bool started = false;
  if (context_) {
    pa_context_set_state_callback(context_, &PulseAudioServer::onState, this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self) {
          onEvent(context, static_cast<int>(type), index, self);
        },
        this);
    started =
        pa_context_connect(context_, options_.server.empty() ? nullptr : options_.server.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  }
  pa_threaded_mainloop_unlock(loop_);
  if (!started) {
    teardown();
    return false;
  }
  {
    std::unique_lock wait(waitMutex_);
    changed_.wait_for(wait, options_.timeout, [this] {
      return ready_.load(std::memory_order_acquire) || failed_.load(std::memory_order_acquire);
    });
  }
  if (!usable()) {
    teardown();
    return false;
  }

  // Sink events from here on.
  Call call;
  call.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* subscribed =
      pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK, &onSuccess, &call);
  pa_threaded_mainloop_unlock(loop_);
  if (!finish(subscribed, call)) {
    teardown();
    return false;
  }
  if (!stop_.active() && dispatch::Runtime::installed()) {
    std::weak_ptr<PulseAudioServer> weak = weak_from_this();
    stop_ = dispatch::Runtime::shared().registerStop("audio.pulse", [weak] {
      if (auto self = weak.lock()) self->disconnect();
    });
  }
  return true;
}

bool PulseAudioServer::usable() const {
  return loop_ && context_ && ready_.load(std::memory_order_acquire) &&
         !failed_.load(std::memory_order_acquire);
}

void PulseAudioServer::disconnect() {
  {
    std::lock_guard lock(mutex_);
    teardown();
  }
  stop_.reset();
}

void PulseAudioServer::teardown() {
  ready_.store(false, std::memory_order_release);
  if (!loop_) return;
  pa_threaded_mainloop_lock(loop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  pa_threaded_mainloop_unlock(loop_);
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
  loop_ = nullptr;
}

bool PulseAudioServer::finish(pa_operation* operation, Call& call) {
  if (!operation) return false;
  bool answered = false;
  {
    std::unique_lock wait(waitMutex_);
    answered = changed_.wait_for(wait, options_.timeout, [&] {
      return call.done || failed_.load(std::memory_order_acquire);
    });
    answered = answered && call.done;
  }
  // Callbacks run under the loop's lock: once it is ours and the operation
  // cancelled, `call` is never written again.
  pa_threaded_mainloop_lock(loop_);
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  pa_threaded_mainloop_unlock(loop_);
  std::lock_guard wait(waitMutex_);
  return answered && call.done && call.ok;
}

namespace {

// Once per sink, then once more with eol 1 (the end) or -1 (an error, such
// as a sink that is gone).
void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto* call = static_cast<Call*>(data);
  // Collected without waitMutex_: the caller reads them only once `done` is
  // set under it, or after cancelling under the loop's lock.
  if (eol == 0) {
    if (info) {
      call->sinks.push_back(sinkOf(*info));
      call->volumes.push_back(info->volume);
    }
    return;
  }
  call->ok = eol > 0;
  call->server->answered(*call);
}

}  // namespace

std::vector<AudioSink> PulseAudioServer::sinks() {
  std::lock_guard lock(mutex_);
  if (!usable()) return {};
  Call call;
  call.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* operation = pa_context_get_sink_info_list(context_, &onSinkInfo, &call);
  pa_threaded_mainloop_unlock(loop_);
  if (!finish(operation, call)) return {};
  return call.sinks;
}

std::optional<AudioSink> PulseAudioServer::sink(uint32_t index) {
  std::lock_guard lock(mutex_);
  if (!usable()) return std::nullopt;
  Call call;
  call.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* operation = pa_context_get_sink_info_by_index(context_, index, &onSinkInfo, &call);
  pa_threaded_mainloop_unlock(loop_);
  // A sink that is gone answers with an error (eol < 0).
  if (!finish(operation, call) || call.sinks.empty()) return std::nullopt;
  return call.sinks.front();
}

namespace {

void onSuccess(pa_context*, int success, void* data) {
  auto* call = static_cast<Call*>(data);
  call->ok = success != 0;
  call->server->answered(*call);
}

}  // namespace

bool PulseAudioServer::setVolume(uint32_t index, float volume) {
  if (std::isnan(volume)) return false;
  volume = std::clamp(volume, 0.0f, 1.0f);
  std::lock_guard lock(mutex_);
  if (!usable()) return false;
  // The channels as they are now, so that scaling keeps their balance.
  Call read;
  read.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* reading = pa_context_get_sink_info_by_index(context_, index, &onSinkInfo, &read);
  pa_threaded_mainloop_unlock(loop_);
  if (!finish(reading, read) || read.volumes.empty()) return false;

  pa_cvolume channels = read.volumes.front();
  const auto target = static_cast<pa_volume_t>(std::lround(volume * PA_VOLUME_NORM));
  pa_cvolume_scale(&channels, target);
  Call call;
  call.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* operation =
      pa_context_set_sink_volume_by_index(context_, index, &channels, &onSuccess, &call);
  pa_threaded_mainloop_unlock(loop_);
  return finish(operation, call);
}

bool PulseAudioServer::setMute(uint32_t index, bool muted) {
  std::lock_guard lock(mutex_);
  if (!usable()) return false;
  Call call;
  call.server = this;
  pa_threaded_mainloop_lock(loop_);
  pa_operation* operation =
      pa_context_set_sink_mute_by_index(context_, index, muted ? 1 : 0, &onSuccess, &call);
  pa_threaded_mainloop_unlock(loop_);
  return finish(operation, call);
}

}  // namespace vistrelle::audio
