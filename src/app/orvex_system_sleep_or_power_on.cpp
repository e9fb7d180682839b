#include "app/orvex_system_sleep_or_power_on.h"

#include <cstdio>

#include "base/log/orvex_log.h"
#include "platform/bus/linux/sd_bus_connector.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kScreenSaver = "org.freedesktop.ScreenSaver";
constexpr std::chrono::milliseconds kSessionLookupTimeout{5000};

// "LockedHint" in a PropertiesChanged of logind's Session interface: its new
// value, or none when the signal does not carry it.
std::optional<bool> lockedHintIn(const bus::BusSignal& signal) {
  if (signal.args.size() < 2 || !signal.args[0].asString() ||
      *signal.args[0].asString() != kSession) {
    return std::nullopt;
  }
  const auto* changed = signal.args[1].asDict();
  if (!changed) return std::nullopt;
  for (const auto& [key, value] : *changed) {
    if (key.asString() && *key.asString() == "LockedHint") return value.unboxed().asBool();
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<OrvexSystemSleepOrPowerOn> OrvexSystemSleepOrPowerOn::create(Options options) {
  std::shared_ptr<OrvexSystemSleepOrPowerOn> observer(
      new OrvexSystemSleepOrPowerOn(std::move(options)));
  observer->start();
  return observer;
}

OrvexSystemSleepOrPowerOn& OrvexSystemSleepOrPowerOn::shared() {
  // Lives for the process, as its observers do.
  static std::shared_ptr<OrvexSystemSleepOrPowerOn>* instance =
      new std::shared_ptr<OrvexSystemSleepOrPowerOn>(create({}));
  return **instance;
}

OrvexSystemSleepOrPowerOn::OrvexSystemSleepOrPowerOn(Options options)
    : options_(std::move(options)) {
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.buses) options_.buses = std::make_shared<bus::SdBusConnector>();
  if (!options_.screenPower) options_.screenPower = screenpower::ScreenPowerSource::system();
  if (!options_.pollQueue) options_.pollQueue = dispatch::makeSerialQueue("screenpower");
  if (!options_.print) {
    options_.print = [](std::string_view line) {
      std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
      std::fflush(stdout);
    };
  }
  if (!options_.log) options_.log = [](std::string_view line) { OrvexLog::logMessage(line); };
}

OrvexSystemSleepOrPowerOn::~OrvexSystemSleepOrPowerOn() {
  stopScreenPowerPoll();
  // Nothing takes a sleep-prevention hold, so there is none to give back;
  // were there one, it would end with the flag.
  if (isPreventingSleep_) isPreventingSleep_ = false;
}

void OrvexSystemSleepOrPowerOn::start() {
  watchSystemBus();
  watchScreenSaver();
  startScreenPowerPoll();
}

void OrvexSystemSleepOrPowerOn::watchSystemBus() {
  auto opened = options_.buses->open(bus::BusKind::System);
  if (!opened) {
    options_.log("sleep observer: " + opened.error().describe());
    return;
  }
  std::shared_ptr<bus::Bus> system = opened.value();
  std::weak_ptr<OrvexSystemSleepOrPowerOn> weak = weak_from_this();
  auto sleeping = system->subscribe({kLogind, kLogindPath, kManager, "PrepareForSleep"},
                                    options_.mainQueue, [weak](const bus::BusSignal& signal) {
                                      auto self = weak.lock();
                                      if (!self || signal.args.empty() || !signal.args[0].asBool())
                                        return;
                                      if (*signal.args[0].asBool()) {
                                        self->systemWillSleep();
                                      } else {
                                        self->screensDidWake();
                                      }
                                    });
  if (!sleeping) options_.log("sleep observer: " + sleeping.error().describe());
  {
    std::lock_guard lock(mutex_);
    systemBus_ = system;
    if (sleeping) prepareForSleep_ = std::move(sleeping).value();
  }
  // The lock hint changes on our session's own object, whose path logind
  // tells.
  system->call({kLogind,
                kLogindPath,
                kManager,
                "GetSession",
                {bus::BusValue("auto")},
                kSessionLookupTimeout},
               options_.mainQueue, [weak](bus::Bus::Reply reply) {
                 auto self = weak.lock();
                 if (!self) return;
                 if (!reply || reply.value().empty() || !reply.value()[0].asObjectPath()) {
                   self->options_.log("sleep observer: no login session" +
                                      (reply ? std::string() : ": " + reply.error().describe()));
                   return;
                 }
                 self->watchSessionLock(*reply.value()[0].asObjectPath());
               });
}

void OrvexSystemSleepOrPowerOn::watchSessionLock(const std::string& sessionPath) {
  std::shared_ptr<bus::Bus> system;
  {
    std::lock_guard lock(mutex_);
    system = systemBus_;
  }
  if (!system) return;
  std::weak_ptr<OrvexSystemSleepOrPowerOn> weak = weak_from_this();
  auto watched = system->subscribe({kLogind, sessionPath, kProperties, "PropertiesChanged"},
                                   options_.mainQueue, [weak](const bus::BusSignal& signal) {
                                     auto self = weak.lock();
                                     if (!self) return;
                                     if (std::optional<bool> locked = lockedHintIn(signal))
                                       self->screenLockChanged(*locked);
                                   });
  if (!watched) {
    options_.log("sleep observer: " + watched.error().describe());
    return;
  }
  std::lock_guard lock(mutex_);
  lockedHint_ = std::move(watched).value();
}

void OrvexSystemSleepOrPowerOn::watchScreenSaver() {
  auto opened = options_.buses->open(bus::BusKind::Session);
  if (!opened) {
    options_.log("sleep observer: " + opened.error().describe());
    return;
  }
  std::shared_ptr<bus::Bus> session = opened.value();
  std::weak_ptr<OrvexSystemSleepOrPowerOn> weak = weak_from_this();
  // Screen savers differ in the object path they send from.
  auto watched = session->subscribe({"", "", kScreenSaver, "ActiveChanged"}, options_.mainQueue,
                                    [weak](const bus::BusSignal& signal) {
                                      auto self = weak.lock();
                                      if (!self || signal.args.empty() || !signal.args[0].asBool())
                                        return;
                                      self->screenLockChanged(*signal.args[0].asBool());
                                    });
  if (!watched) options_.log("sleep observer: " + watched.error().describe());
  std::lock_guard lock(mutex_);
  sessionBus_ = session;
  if (watched) screenSaver_ = std::move(watched).value();
}

void OrvexSystemSleepOrPowerOn::startScreenPowerPoll() {
  auto poll = dispatch::TimerSource::create(options_.pollQueue);
  std::shared_ptr<screenpower::ScreenPowerSource> source = options_.screenPower;
  std::weak_ptr<OrvexSystemSleepOrPowerOn> weak = weak_from_this();
  dispatch::ExecutorPtr main = options_.mainQueue;
  poll->setEventHandler([source, weak, main] {
    const std::optional<bool> on = source->screensOn();
    main->post([weak, on] {
      if (auto self = weak.lock()) self->onScreenPower(on);
    });
  });
  // The first answer only sets the starting state.
  poll->setTimer(options_.pollQueue->now(), options_.pollInterval);
  poll->resume();
  {
    std::lock_guard lock(mutex_);
    poll_ = std::move(poll);
  }
  if (dispatch::Runtime::installed()) {
    pollStop_ = dispatch::Runtime::shared().registerStop("sleep-observer.screenpower", [weak] {
      if (auto self = weak.lock()) self->stopScreenPowerPoll();
    });
  }
}

void OrvexSystemSleepOrPowerOn::stopScreenPowerPoll() {
  dispatch::TimerSourcePtr poll;
  {
    std::lock_guard lock(mutex_);
    poll = std::move(poll_);
  }
  if (poll) poll->cancel();
}

void OrvexSystemSleepOrPowerOn::onScreenPower(std::optional<bool> on) {
  if (!on) return;
  const std::optional<bool> before = screensOn_;
  screensOn_ = on;
  if (!before || *before == *on) return;
  if (*on) {
    screensDidWake();
  } else {
    screensDidSleep();
  }
}

void OrvexSystemSleepOrPowerOn::setWindowSeam(std::shared_ptr<SleepWakeWindowSeam> seam) {
  std::lock_guard lock(mutex_);
  seam_ = std::move(seam);
}

std::shared_ptr<SleepWakeWindowSeam> OrvexSystemSleepOrPowerOn::seam() const {
  std::lock_guard lock(mutex_);
  return seam_;
}

void OrvexSystemSleepOrPowerOn::sleepNotification() {
  if (!isSleep_.load()) isSleep_.store(true);
}

void OrvexSystemSleepOrPowerOn::wakeNotification() {
  if (isSleep_.load()) isSleep_.store(false);
}

void OrvexSystemSleepOrPowerOn::systemDidWake() {
  options_.print("系统已唤醒");
}

void OrvexSystemSleepOrPowerOn::screenLockChanged(bool locked) {
  isSleep_.store(locked);
}

void OrvexSystemSleepOrPowerOn::screensDidSleep() {
  if (auto window = seam(); window && window->hasWindow()) window->stopCapture();
  isSleep_.store(true);
}

void OrvexSystemSleepOrPowerOn::systemWillSleep() {
  isDeepSleep_.store(true);
  isSleep_.store(true);
}

void OrvexSystemSleepOrPowerOn::screensDidWake() {
  isSleep_.store(false);
  isDeepSleep_.store(false);
  if (auto window = seam()) window->handleWake(false);
}

}  // namespace vistrelle
