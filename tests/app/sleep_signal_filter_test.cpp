// Which bus signals the sleep observer takes as a lock: only LockedHint of
// logind's Session interface on our own session's object, and only from
// logind.  On a fake bus, whose deliveries are immediate.
#include <gtest/gtest.h>

#include "app/orvex_system_sleep_or_power_on.h"
#include "platform/bus/fake/fake_bus.h"
#include "platform/bus/fake/fake_bus_connector.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/screenpower/fake/fake_screen_power_source.h"

namespace vistrelle {
namespace {

using bus::BusSignal;
using bus::BusValue;

constexpr const char* kOurSession = "/org/freedesktop/login1/session/_31";

BusSignal lockedHint(std::string path, std::string interface, BusValue value,
                     std::string sender = "org.freedesktop.login1") {
  return {
      std::move(path),
      "org.freedesktop.DBus.Properties",
      "PropertiesChanged",
      {BusValue(std::move(interface)),
       BusValue::dict("s", "v", {{BusValue("LockedHint"), BusValue::variant(std::move(value))}}),
       BusValue::array("s", {})},
      std::move(sender)};
}

TEST(SleepSignalFilter, OnlyOurSessionsLockedHintFromLogindCounts) {
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  auto system = bus::FakeBus::create(bus::BusKind::System);
  system->respond("org.freedesktop.login1.Manager", "GetSession", [](const bus::BusMethodCall&) {
    return bus::Bus::Reply(std::vector<BusValue>{BusValue::objectPath(kOurSession)});
  });
  auto buses = std::make_shared<bus::FakeBusConnector>();
  buses->setBus(bus::BusKind::System, system);
  buses->setNoBus(bus::BusKind::Session, "none");
  auto observer = OrvexSystemSleepOrPowerOn::create(
      {.buses = buses,
       .mainQueue = main,
       .screenPower = std::make_shared<screenpower::FakeScreenPowerSource>(std::nullopt),
       .pollQueue = main,
       .print = [](std::string_view) {},
       .log = [](std::string_view) {}});
  main->runUntilIdle();

  const std::vector<BusSignal> foreign = {
      lockedHint("/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session",
                 BusValue(true)),
      lockedHint(kOurSession, "org.freedesktop.login1.User", BusValue(true)),
      lockedHint(kOurSession, "org.freedesktop.login1.Session", BusValue("yes")),
      lockedHint(kOurSession, "org.freedesktop.login1.Session", BusValue(true), ":1.99"),
  };
  for (const BusSignal& signal : foreign) {
    system->raise(signal);
    main->runUntilIdle();
    EXPECT_FALSE(observer->isSleep()) << signal.path << " " << *signal.args[0].asString();
  }
  system->raise(lockedHint(kOurSession, "org.freedesktop.login1.Session", BusValue(true)));
  main->runUntilIdle();
  EXPECT_TRUE(observer->isSleep());
}

}  // namespace
}  // namespace vistrelle
