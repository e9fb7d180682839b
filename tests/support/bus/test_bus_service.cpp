#include "support/bus/test_bus_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>

#include <cstring>
#include <future>

#include "platform/bus/linux/sd_bus_message_codec.h"

namespace vistrelle::testing {

using bus::BusError;
using bus::BusValue;
using bus::SdBusMessageCodec;

namespace {

std::string text(const char* s) {
  return s ? std::string(s) : std::string();
}

uint64_t monotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace

TestBusService::TestBusService(const std::string& address, const std::string& name) {
  sd_bus* raw = nullptr;
  int r = sd_bus_new(&raw);
  if (r < 0) {
    error_ = std::string("sd_bus_new: ") + std::strerror(-r);
    return;
  }
  bus_.reset(raw);
  r = sd_bus_set_address(bus_.get(), address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus_.get(), 1);
  if (r >= 0) r = sd_bus_negotiate_fds(bus_.get(), 1);
  if (r >= 0) r = sd_bus_start(bus_.get());
  if (r < 0) {
    error_ = "no bus at " + address + ": " + std::strerror(-r);
    return;
  }
  // Blocking is fine here: the service thread does not run yet.
  if (!name.empty()) {
    r = sd_bus_request_name(bus_.get(), name.c_str(), 0);
    if (r < 0) {
      error_ = "name " + name + " not claimed: " + std::strerror(-r);
      return;
    }
  }
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus_.get(), &unique) >= 0) uniqueName_ = text(unique);
  sd_bus_slot* slot = nullptr;
  r = sd_bus_add_fallback(bus_.get(), &slot, "/", &TestBusService::onMessage, this);
  if (r < 0) {
    error_ = std::string("no object tree: ") + std::strerror(-r);
    return;
  }
  slots_.emplace_back(slot);
  wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  thread_ = std::thread([this] { loop(); });
}

TestBusService::~TestBusService() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] auto written = write(wake_.get(), &one, sizeof one);
    thread_.join();
  }
  slots_.clear();
  if (bus_) sd_bus_flush(bus_.get());
}

void TestBusService::loop() {
  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      work.swap(work_);
    }
    for (auto& task : work) task();

    pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {-1, 0, 0}};
    int timeout = -1;
    if (bus_) {
      int r;
      while ((r = sd_bus_process(bus_.get(), nullptr)) > 0) {
      }
      if (r >= 0) {
        fds[1] = {sd_bus_get_fd(bus_.get()), static_cast<short>(sd_bus_get_events(bus_.get())), 0};
        uint64_t until = UINT64_MAX;
        if (sd_bus_get_timeout(bus_.get(), &until) >= 0 && until != UINT64_MAX) {
          const uint64_t now = monotonicMicros();
          timeout = until <= now ? 0 : static_cast<int>((until - now + 999) / 1000);
        }
      }
    }
    ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
    uint64_t drained = 0;
    [[maybe_unused]] auto got = read(wake_.get(), &drained, sizeof drained);
  }
}

bool TestBusService::runOnThread(std::function<void()> work, std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return false;
  if (std::this_thread::get_id() == thread_.get_id()) {
    work();
    return true;
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  {
    std::lock_guard lock(mutex_);
    work_.push_back([work = std::move(work), done] {
      work();
      done->set_value();
    });
  }
  const uint64_t one = 1;
  [[maybe_unused]] auto written = write(wake_.get(), &one, sizeof one);
  return finished.wait_for(limit) == std::future_status::ready;
}

int TestBusService::onMessage(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<TestBusService*>(userdata);
  Call call{text(sd_bus_message_get_path(message)),
            text(sd_bus_message_get_interface(message)),
            text(sd_bus_message_get_member(message)),
            text(sd_bus_message_get_sender(message)),
            {}};
  if (auto args = SdBusMessageCodec::read(message); args.ok()) call.args = std::move(args).value();
  {
    std::lock_guard lock(self->mutex_);
    self->calls_.push_back(call);
  }
  self->changed_.notify_all();

  auto sendReply = [message](const std::vector<BusValue>& values) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_return(message, &raw) < 0) return;
    bus::SdBusMessagePtr reply(raw);
    if (SdBusMessageCodec::append(reply.get(), values).ok())
      sd_bus_send(nullptr, reply.get(), nullptr);
  };

  if (call.interface == "org.freedesktop.DBus.Properties") {
    std::lock_guard lock(self->mutex_);
    if (call.member == "Get" && call.args.size() == 2 && call.args[0].asString() &&
        call.args[1].asString()) {
      auto found =
          self->properties_.find({call.path, *call.args[0].asString(), *call.args[1].asString()});
      if (found == self->properties_.end()) {
        sd_bus_reply_method_errorf(message, SD_BUS_ERROR_UNKNOWN_PROPERTY, "no property %s",
                                   call.args[1].asString()->c_str());
      } else {
        sendReply({BusValue::variant(found->second)});
      }
      return 1;
    }
    if (call.member == "GetAll" && call.args.size() == 1 && call.args[0].asString()) {
      std::vector<std::pair<BusValue, BusValue>> entries;
      for (const auto& [key, value] : self->properties_) {
        if (std::get<0>(key) == call.path && std::get<1>(key) == *call.args[0].asString())
          entries.emplace_back(BusValue(std::get<2>(key)), BusValue::variant(value));
      }
      sendReply({BusValue::dict("s", "v", std::move(entries))});
      return 1;
    }
    return 0;
  }

  MethodHandler handler;
  {
    std::lock_guard lock(self->mutex_);
    auto found = self->handlers_.find({call.path, call.interface, call.member});
    if (found == self->handlers_.end()) return 0;  // sd-bus answers UnknownMethod
    handler = found->second;
  }
  const Answer answer = handler(call);
  switch (answer.kind) {
    case Answer::Kind::Reply:
      sendReply(answer.values);
      break;
    case Answer::Kind::Error:
      sd_bus_reply_method_errorf(message, answer.errorName.c_str(), "%s",
                                 answer.errorMessage.c_str());
      break;
    case Answer::Kind::Never:
      break;
  }
  return 1;
}

int TestBusService::onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<TestBusService*>(userdata);
  bus::BusSignal signal{text(sd_bus_message_get_path(message)),
                        text(sd_bus_message_get_interface(message)),
                        text(sd_bus_message_get_member(message)),
                        {},
                        text(sd_bus_message_get_sender(message))};
  if (auto args = SdBusMessageCodec::read(message); args.ok())
    signal.args = std::move(args).value();
  {
    std::lock_guard lock(self->mutex_);
    self->signals_.push_back(std::move(signal));
  }
  self->changed_.notify_all();
  return 0;
}

void TestBusService::onMethod(std::string path, std::string interface, std::string member,
                              MethodHandler handler) {
  std::lock_guard lock(mutex_);
  handlers_[{std::move(path), std::move(interface), std::move(member)}] = std::move(handler);
}

void TestBusService::setProperty(std::string path, std::string interface, std::string name,
                                 BusValue value) {
  std::lock_guard lock(mutex_);
  properties_[{std::move(path), std::move(interface), std::move(name)}] = std::move(value);
}

bool TestBusService::emitSignal(std::string path, std::string interface, std::string member,
                                std::vector<BusValue> args) {
  bool sent = false;
  const bool ran = runOnThread([&] {
    if (!bus_) return;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_signal(bus_.get(), &raw, path.c_str(), interface.c_str(),
                                  member.c_str()) < 0)
      return;
    bus::SdBusMessagePtr signal(raw);
    if (!SdBusMessageCodec::append(signal.get(), args).ok()) return;
    sent = sd_bus_send(bus_.get(), signal.get(), nullptr) >= 0 && sd_bus_flush(bus_.get()) >= 0;
  });
  return ran && sent;
}

bus::BusResult<std::vector<BusValue>> TestBusService::call(const bus::BusMethodCall& call) {
  bus::BusResult<std::vector<BusValue>> result =
      BusError::make(BusError::Code::Disconnected, "the test service has no bus");
  const bool ran = runOnThread(
      [&] {
        if (!bus_) return;
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_call(bus_.get(), &raw, call.destination.c_str(),
                                           call.path.c_str(), call.interface.c_str(),
                                           call.member.c_str()) < 0)
          return;
        bus::SdBusMessagePtr message(raw);
        if (auto appended = SdBusMessageCodec::append(message.get(), call.args); !appended.ok()) {
          result = appended.error();
          return;
        }
        bus::SdBusErrorHolder error;
        sd_bus_message* rawReply = nullptr;
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(call.timeout);
        // Blocking on the service thread: it has nothing else to do meanwhile.
        if (sd_bus_call(bus_.get(), message.get(), static_cast<uint64_t>(usec.count()), error.get(),
                        &rawReply) < 0) {
          result = BusError::make(BusError::Code::Remote, text(error.get()->message),
                                  text(error.get()->name));
          return;
        }
        bus::SdBusMessagePtr reply(rawReply);
        result = SdBusMessageCodec::read(reply.get());
      },
      call.timeout + std::chrono::seconds(1));
  if (!ran) return BusError::make(BusError::Code::Timeout, "the test service did not finish");
  return result;
}

bool TestBusService::watchSignals(const bus::BusSignalMatch& match) {
  bool installed = false;
  runOnThread([&] {
    if (!bus_) return;
    sd_bus_slot* slot = nullptr;
    // Synchronous: the rule is in place when this returns.
    if (sd_bus_add_match(bus_.get(), &slot, match.rule().c_str(), &TestBusService::onSignal,
                         this) >= 0) {
      slots_.emplace_back(slot);
      installed = true;
    }
  });
  return installed;
}

std::vector<TestBusService::Call> TestBusService::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<bus::BusSignal> TestBusService::signals() const {
  std::lock_guard lock(mutex_);
  return signals_;
}

bool TestBusService::waitForCalls(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
}

bool TestBusService::waitForSignals(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return signals_.size() >= count; });
}

void TestBusService::disconnect() {
  runOnThread([this] {
    slots_.clear();
    if (bus_) sd_bus_flush(bus_.get());
    bus_.reset();
  });
}

}  // namespace vistrelle::testing
