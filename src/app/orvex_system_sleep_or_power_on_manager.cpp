#include "app/orvex_system_sleep_or_power_on_manager.h"

#include <cinttypes>
#include <cstdio>

#include "platform/bus/linux/sd_bus_connector.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

}  // namespace

std::shared_ptr<OrvexSystemSleepOrPowerOnManager> OrvexSystemSleepOrPowerOnManager::create(
    Options options) {
  return std::shared_ptr<OrvexSystemSleepOrPowerOnManager>(
      new OrvexSystemSleepOrPowerOnManager(std::move(options)));
}

OrvexSystemSleepOrPowerOnManager& OrvexSystemSleepOrPowerOnManager::shareManager() {
  static std::shared_ptr<OrvexSystemSleepOrPowerOnManager>* instance = [] {
    auto* made = new std::shared_ptr<OrvexSystemSleepOrPowerOnManager>(create({}));
    (*made)->createSystemSleepOrPowerOn();
    return made;
  }();
  return **instance;
}

OrvexSystemSleepOrPowerOnManager::OrvexSystemSleepOrPowerOnManager(Options options)
    : options_(std::move(options)) {
  if (!options_.buses) options_.buses = std::make_shared<bus::SdBusConnector>();
  if (!options_.queue) options_.queue = dispatch::mainQueue();
  if (!options_.print) {
    options_.print = [](std::string_view line) {
      std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
      std::fflush(stdout);
    };
  }
}

OrvexSystemSleepOrPowerOnManager::~OrvexSystemSleepOrPowerOnManager() {
  remove();
}

bool OrvexSystemSleepOrPowerOnManager::createSystemSleepOrPowerOn() {
  auto opened = options_.buses->open(bus::BusKind::System);
  if (!opened) {
    options_.print("IORegisterForSystemPower failed");
    return false;
  }
  std::shared_ptr<bus::Bus> system = opened.value();
  std::weak_ptr<OrvexSystemSleepOrPowerOnManager> weak = weak_from_this();
  auto subscribed =
      system->subscribe({kLogind, kLogindPath, kManager, "PrepareForSleep"}, options_.queue,
                        [weak](const bus::BusSignal& signal) {
                          auto self = weak.lock();
                          if (!self || signal.args.empty() || !signal.args[0].asBool()) return;
                          if (*signal.args[0].asBool()) {
                            self->powerCallback(kSystemWillSleep, 0);
                          } else {
                            self->powerCallback(kSystemWillPowerOn, 0);
                            self->powerCallback(kSystemHasPoweredOn, 0);
                          }
                        });
  if (!subscribed) {
    options_.print("IORegisterForSystemPower failed");
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    bus_ = system;
    subscription_ = std::move(subscribed).value();
  }
  options_.print("IORegisterForSystemPower success");
  takeInhibitor();
  return true;
}

void OrvexSystemSleepOrPowerOnManager::takeInhibitor() {
  std::shared_ptr<bus::Bus> system;
  {
    std::lock_guard lock(mutex_);
    system = bus_;
  }
  if (!system) return;
  std::weak_ptr<OrvexSystemSleepOrPowerOnManager> weak = weak_from_this();
  system->call({kLogind,
                kLogindPath,
                kManager,
                "Inhibit",
                {bus::BusValue("sleep"), bus::BusValue("Vistrelle"),
                 bus::BusValue("Vistrelle follows system sleep"), bus::BusValue("delay")}},
               options_.queue, [weak](bus::Bus::Reply reply) {
                 auto self = weak.lock();
                 if (!self || !reply || reply.value().empty() || reply.value()[0].asFd() < 0) {
                   return;
                 }
                 std::lock_guard lock(self->mutex_);
                 // Taken after remove(): let go at once.
                 if (self->bus_) self->inhibitor_ = reply.value()[0];
               });
}

void OrvexSystemSleepOrPowerOnManager::allowPowerChange() {
  std::lock_guard lock(mutex_);
  inhibitor_.reset();
}

void OrvexSystemSleepOrPowerOnManager::powerCallback(uint32_t messageType, uint64_t argument) {
  char line[64];
  std::snprintf(line, sizeof line, "messageType %08" PRIx32 ", arg %08" PRIx64, messageType,
                argument);
  options_.print(line);
  switch (messageType) {
    case kCanSystemSleep:
      options_.print("是否允许休眠");
      allowPowerChange();
      break;
    case kSystemWillSleep:
      options_.print("即将进入休眠");
      allowPowerChange();
      break;
    case kSystemWillPowerOn:
      options_.print("即将唤醒.");
      break;
    case kSystemHasPoweredOn:
      options_.print("唤醒成功.");
      // The next sleep waits for us again.
      takeInhibitor();
      break;
    default:
      break;
  }
}

bool OrvexSystemSleepOrPowerOnManager::holdsInhibitor() const {
  std::lock_guard lock(mutex_);
  return inhibitor_.has_value();
}

void OrvexSystemSleepOrPowerOnManager::remove() {
  bus::BusSubscription subscription;
  {
    std::lock_guard lock(mutex_);
    subscription = std::move(subscription_);
    inhibitor_.reset();
    bus_.reset();
  }
  subscription.cancel();
}

}  // namespace vistrelle
