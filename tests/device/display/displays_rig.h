#pragma once

// A display configuration over a fake layout, with its own main state,
// centre, main queue on virtual time, programs and buses, and every line it
// writes kept.

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/display/display_configuration.h"
#include "platform/bus/fake/fake_bus_connector.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/display/fake/fake_display_server.h"
#include "platform/process/fake/fake_process_launcher.h"

namespace vistrelle::testing {

class DisplaysRig {
 public:
  // `server` null: a fake made from `json`.  `sharedState`: the main state
  // the configuration works on in place of the rig's own.
  explicit DisplaysRig(std::string_view json,
                       std::shared_ptr<display::DisplayServer> server = nullptr,
                       MainState* sharedState = nullptr)
      : fake(server ? nullptr : display::FakeDisplayServer::fromJson(json)) {
    state.reset();
    buses->setNoBus(bus::BusKind::System, "no system bus in this test");
    buses->setNoBus(bus::BusKind::Session, "no session bus in this test");
    device::DisplayConfiguration::Options options;
    options.server = server ? std::move(server) : fake;
    options.state = sharedState ? sharedState : &state;
    options.center = &center;
    options.mainQueue = mainQueue;
    options.buses = buses;
    options.backlightRoot = "/nonexistent/backlight";
    options.opener.launcher = launcher;
    options.opener.reportQueue = mainQueue;
    options.opener.programExists = [this](const std::string& program) {
      return installed.contains(program);
    };
    options.opener.showMessage = [this](const std::string& text) { keep(messages, text); };
    options.accessibilityTrusted = [this] { return trusted; };
    options.printLog = [this](std::string_view line) { keep(printLogged, line); };
    options.trace = [this](std::string_view line) { keep(traced, line); };
    options.print = [this](std::string_view line) { keep(printed, line); };
    options.log = [this](std::string_view line) { keep(logged, line); };
    displays = std::make_unique<device::DisplayConfiguration>(std::move(options));
  }

  uint32_t id(const char* outputName) const {
    const auto layout = current();
    const display::DisplayOutput* output = layout.findByName(outputName);
    return output != nullptr ? output->id : 0;
  }
  display::DisplayLayout current() const { return fake->current(); }
  display::DisplayOutput output(const char* outputName) const {
    const auto layout = current();
    const display::DisplayOutput* found = layout.findByName(outputName);
    return found != nullptr ? *found : display::DisplayOutput{};
  }

  std::shared_ptr<display::FakeDisplayServer> fake;
  MainState state;
  NotificationCenter center;
  std::shared_ptr<dispatch::VirtualExecutor> mainQueue =
      std::make_shared<dispatch::VirtualExecutor>("main");
  std::shared_ptr<bus::FakeBusConnector> buses = std::make_shared<bus::FakeBusConnector>();
  std::shared_ptr<process::FakeProcessLauncher> launcher =
      std::make_shared<process::FakeProcessLauncher>();
  std::set<std::string> installed;
  bool trusted = true;
  std::vector<std::string> messages;
  std::vector<std::string> printLogged;
  std::vector<std::string> traced;
  std::vector<std::string> printed;
  std::vector<std::string> logged;
  std::unique_ptr<device::DisplayConfiguration> displays;

 private:
  void keep(std::vector<std::string>& into, std::string_view line) {
    std::lock_guard lock(mutex_);
    into.emplace_back(line);
  }
  mutable std::mutex mutex_;
};

}  // namespace vistrelle::testing
