#pragma once

// The application delegate with its glasses: the real command layer over
// simulated glasses on the simulated bus (its HID thread is real), the
// display configuration over a fake layout, the privacy dimming over a fake
// panel, and fakes for the window, the tray, the alerts and the session.
// The main queue is one virtual-time executor (also the global queue and the
// timers'); the process' main state is the delegate's.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/brightness_port.h"
#include "app/builtin_brightness_dimmer.h"
#include "app/road/road_rig.h"
#include "base/helpers/orvex_localization_helper.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "device/display/displays_rig.h"
#include "device/hid/hid_road_fixture.h"
#include "platform/message/fake/fake_transient_message.h"
#include "support/app_delegate_rig.h"
#include "support/http_fixture.h"
#include "support/recording_alerts.h"

namespace vistrelle::testing {

// A built-in panel that takes every level it is set to.
class FakePanel final : public BrightnessPort {
 public:
  float builtinDisplayBrightness() override {
    std::lock_guard lock(mutex_);
    return level_;
  }
  void setBuiltinDisplayBrightness(float value) override {
    std::lock_guard lock(mutex_);
    level_ = value;
  }

 private:
  std::mutex mutex_;
  float level_ = 0;
};

// The 3D manager as the delegate drives it; its close switches the glasses
// to 2D the way the real manager's does.
class FakeDepthManager final : public DepthManagerControl {
 public:
  explicit FakeDepthManager(std::vector<std::string>& events) : events_(events) {}
  void open3DWindow() override { events_.push_back("open 3D"); }
  void close3DWindow() override {
    events_.push_back("close 3D");
    if (close) close();
  }
  std::function<void()> close;

 private:
  std::vector<std::string>& events_;
};

class GlassesDelegateRig {
 public:
  explicit GlassesDelegateRig(std::string_view layout = kExtendedLayout)
      : displaysRig(layout, nullptr, &MainState::shared()) {
    MainState::shared().reset();
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    message::TransientMessage::install(messages);

    AppServices services{mainQueue,
                         &defaults,
                         &tray,
                         [this]() -> std::unique_ptr<AppWindow> {
                           auto made = std::make_unique<RecordingWindow>();
                           window = made.get();
                           return made;
                         },
                         [this](const std::string& line) {
                           std::lock_guard lock(mutex_);
                           traces.push_back(line);
                         },
                         &popover};
    services.qxServer.backend = sim.bus;
    services.qxServer.parser = &parser;
    services.qxServer.center = &center;
    services.qxServer.print = [](std::string_view) {};
    services.qxServer.trace = [](std::string_view) {};
    services.qxServer.log = [](std::string_view) {};
    services.qxServer.showMessage = [](const std::string&) {};
    services.displays = displaysRig.displays.get();
    services.center = &center;
    services.globalQueue = mainQueue;
    services.timer = &timer;
    services.alerts = &alerts;
    services.isWaylandSession = [this] { return wayland; };
    services.canRecordScreen = [this] { return canRecord; };
    services.showScreenRecordingPrompt = [this] { events.push_back("recording prompt"); };
    services.isScreenLocked = [] { return false; };
    services.installCompanionBridge = [this](device::OrvexQXServer&) {
      events.push_back("companion bridge");
    };
    services.addAudioOutputVolumeListener = [this] { events.push_back("add audio listener"); };
    services.removeAudioOutputVolumeListener = [this] {
      events.push_back("remove audio listener");
    };
    services.exitRestoreLimit = std::chrono::milliseconds(500);
    delegate = std::make_unique<AppDelegate>(std::move(services));
    // The update check asks a port where nothing listens: it fails at once
    // and puts nothing in the way.
    cloud::OrvexAlamofireManager::Options httpOptions;
    httpOptions.config = {"http://127.0.0.1:9", "http://127.0.0.1:9", "id:secret"};
    httpOptions.mainQueue = mainQueue;
    httpOptions.console = [](const std::string&) {};
    http = std::make_shared<cloud::OrvexAlamofireManager>(httpOptions);
    cloud::UpdateServices update;
    update.http = http;
    update.mainQueue = mainQueue;
    update.workQueue = mainQueue;
    update.log = [](const std::string&) {};
    delegate->configureUpdate({}, update);

    BuiltinBrightnessDimmer::Options dimming;
    dimming.port = panel;
    dimming.timer = &timer;
    dimming.mainQueue = mainQueue;
    dimming.worker = mainQueue;
    dimming.defaults = &defaults;
    dimming.pause = [](std::chrono::milliseconds) {};
    dimming.log = [](std::string_view) {};
    dimmer = std::make_unique<BuiltinBrightnessDimmer>(dimming);
    delegate->setBrightnessDimmer(dimmer.get());
    delegate->setDepthManagerFactory([this] {
      auto manager = std::make_shared<FakeDepthManager>(events);
      depthManager = manager.get();
      return manager;
    });
    delegate->setConnectTipsPresenter([this] { events.push_back("tips"); });
    delegate->setUpdateViewReset([this] { events.push_back("reset update view"); });
    statusObserver = center.observe(ConnectionRoad::kStatusChange, nullptr,
                                    [this](const Notification&) { ++statusPosts; });
  }

  ~GlassesDelegateRig() {
    delegate->qxServer().stop();
    http->stop();
    mainQueue->runUntilIdle();
    delegate.reset();
    message::TransientMessage::install(nullptr);
  }

  template <typename Ready>
  bool pumpUntil(Ready ready) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
      mainQueue->runUntilIdle();
      sim.glassesClock->runUntilIdle();
      if (ready()) return true;
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void advance(std::chrono::milliseconds delta) {
    mainQueue->advanceBy(delta);
    mainQueue->runUntilIdle();
  }
  std::vector<std::string> traceLines() {
    std::lock_guard lock(mutex_);
    return traces;
  }
  int count(std::string_view event) const {
    int n = 0;
    for (const auto& e : events) n += e == event ? 1 : 0;
    return n;
  }

  cloud::TemporaryHome home;
  DisplaysRig displaysRig;
  SimulatedGlassesBus sim;
  NotificationCenter& center = displaysRig.center;
  std::shared_ptr<dispatch::VirtualExecutor> mainQueue = displaysRig.mainQueue;
  device::WearThresholds thresholds;
  device::GlassReport parser{center, device::CompanionLink::none(), thresholds,
                             [](std::string_view) {}};
  InMemoryUserDefaults defaults;
  GCXTimer timer{mainQueue, mainQueue};
  FakeStatusItem tray;
  FakeStatusPopover popover;
  RecordingWindow* window = nullptr;
  RecordingAlerts alerts;
  std::shared_ptr<message::FakeTransientMessage> messages =
      std::make_shared<message::FakeTransientMessage>();
  std::shared_ptr<FakePanel> panel = std::make_shared<FakePanel>();
  std::unique_ptr<BuiltinBrightnessDimmer> dimmer;
  std::shared_ptr<cloud::OrvexAlamofireManager> http;
  FakeDepthManager* depthManager = nullptr;
  bool wayland = false;
  bool canRecord = true;
  std::vector<std::string> events;
  std::vector<std::string> traces;
  std::atomic<int> statusPosts{0};
  Subscription statusObserver;
  std::unique_ptr<AppDelegate> delegate;

 private:
  std::mutex mutex_;
};

}  // namespace vistrelle::testing
