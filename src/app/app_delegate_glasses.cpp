// The delegate's glasses: the observers of the launch, the start of the
// glasses' monitor behind the un-mirroring and the screen-capture gate, the
// connection road's wiring, the 3D window and the exit clean-up.

#include <algorithm>
#include <cctype>

#include "app/app_delegate.h"
#include "app/builtin_brightness_dimmer.h"
#include "app/companion/companion_bridge.h"
#include "app/glass_volume_control.h"
#include "base/helpers/language_bundle.h"
#include "base/timer/gcx_timer.h"
#include "device/audio/orvex_audio_volume.h"
#include "device/display/display_configuration.h"
#include "device/display/glasses_screen_name.h"
#include "device/hid/orvex_usb_service_oc.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"
#include "platform/session/session_type.h"

namespace vistrelle {

device::DisplayConfiguration& AppDelegate::displays() const {
  return services_.displays ? *services_.displays : device::DisplayConfiguration::shared();
}

dispatch::ExecutorPtr AppDelegate::globalQueue() const {
  if (services_.globalQueue) return services_.globalQueue;
  // A delegate without a runtime (its tests) runs everything on its queue.
  return dispatch::Runtime::installed() ? dispatch::globalQueue() : services_.mainQueue;
}

std::string AppDelegate::localized(std::string_view key) const {
  return base::LanguageBundle::shared().localizedStringForKey(key);
}

std::shared_ptr<ConnectionRoad> AppDelegate::makeConnectionRoad() {
  ConnectionRoad::Environment env;
  env.glasses = qxServer_.get();
  env.displays = &displays();
  env.window = [this] { return window_.get(); };
  env.state = &state_;
  env.defaults = services_.defaults;
  env.center = services_.center;
  env.timer = services_.timer;
  env.mainQueue = services_.mainQueue;
  env.globalQueue = globalQueue();
  env.isScreenLocked = services_.isScreenLocked
                           ? services_.isScreenLocked
                           : std::function<bool()>([this] { return displays().isScreenLocked(); });
  env.checkAppUpdate = [this](std::function<void(bool)> completion) {
    checkAppUpdate(std::move(completion));
  };
  env.showConnectTips = [this] {
    if (showConnectTips_) showConnectTips_();
  };
  env.resetUpdateView = [this] {
    if (resetUpdateView_) resetUpdateView_();
  };
  env.openAI3D = [this] { openAI3D(); };
  env.close3DWindow = [this] {
    if (depthManager_) depthManager_->close3DWindow();
  };
  env.addAudioOutputVolumeListener = services_.addAudioOutputVolumeListener;
  if (!env.addAudioOutputVolumeListener) {
    env.addAudioOutputVolumeListener = [] {
      device::OrvexAudioVolume::shared().addAudioOutputVolumeListener();
    };
  }
  env.removeAudioOutputVolumeListener = services_.removeAudioOutputVolumeListener;
  if (!env.removeAudioOutputVolumeListener) {
    env.removeAudioOutputVolumeListener = [] {
      device::OrvexAudioVolume::shared().removeAudioOutputVolumeListener();
    };
  }
  env.restoreBuiltinBrightness = [this] { restoreBuiltinBrightness(); };
  env.setGlassVolume = [this](int level, bool mute) {
    if (volume_) volume_->setGlassVolume(level, mute);
  };
  env.alerts = services_.alerts;
  env.terminate = [this] {
    exitAppWithIsRecover(false);
    terminate();
  };
  env.trace = [this](std::string_view line) { services_.trace(std::string(line)); };
  return ConnectionRoad::create(std::move(env));
}

void AppDelegate::setBrightnessDimmer(BuiltinBrightnessDimmer* dimmer) {
  dimmer_ = dimmer;
  setBrightnessControl(dimmer);
}

// ---- Launch step 9 ----

void AppDelegate::addObservers() {
  NotificationCenter& center =
      services_.center ? *services_.center : NotificationCenter::defaultCenter();
  const auto main = services_.mainQueue;
  observers_.push_back(
      center.observe(device::GlassReport::kVersionNotification, main,
                     [this](const Notification& note) { road_->onGlassVersion(note); }));
  observers_.push_back(center.observe(device::OrvexAudioVolume::kSystemVolumeNotification, main,
                                      [this](const Notification& note) {
                                        if (volume_) volume_->onSystemVolume(note);
                                      }));
}

void AppDelegate::applicationDidBecomeActive() {
  checkAppUpdate();
}

// ---- Launch step 10 ----

void AppDelegate::startGlassMonitoring() {
  const bool wayland =
      services_.isWaylandSession ? services_.isWaylandSession() : session::isWaylandSession();
  if (wayland) {
    // The compositor, not X11, arranges the displays and refuses every
    // capture: nothing below could work.
    showScreenRecordingAlert(true);
    return;
  }
  unmirrorWaited_ = {};
  unmirrorNoticeShown_ = false;
  unmirrorAtLaunch();
}

void AppDelegate::unmirrorAtLaunch() {
  // The display server is asked off the UI thread; the answer comes back to
  // the main queue, which decides.
  device::DisplayConfiguration* displays = &this->displays();
  // Weakly: a queue that never runs this task must not keep itself alive.
  std::weak_ptr<dispatch::Executor> weakMain = services_.mainQueue;
  std::weak_ptr<bool> alive = alive_;
  globalQueue()->post([this, displays, weakMain, alive] {
    const bool done = displays->cancelGlassesMirrorAndMoveMain(false, true);
    const auto main = weakMain.lock();
    if (!main) return;
    main->post([this, alive, done] {
      const auto live = alive.lock();
      if (!live || !*live) return;
      if (done) {
        monitorGlasses();
        return;
      }
      // Told once, after about 30 s of trying.
      if (!unmirrorNoticeShown_ && unmirrorWaited_ >= kWaitingNoticeAfter) {
        unmirrorNoticeShown_ = true;
        services_.trace(ConnectionRoad::kWaitingForExtendedText);
        message::TransientMessage::show(localized(ConnectionRoad::kWaitingForExtendedText));
      }
      unmirrorWaited_ += kUnmirrorRetry;
      unmirrorRetry_ = services_.mainQueue->postAfter(kUnmirrorRetry, [this, alive] {
        const auto again = alive.lock();
        if (again && *again) unmirrorAtLaunch();
      });
    });
  });
}

void AppDelegate::monitorGlasses() {
  const bool canRecord = services_.canRecordScreen
                             ? services_.canRecordScreen()
                             : device::OrvexUSBServiceOC::shareManager().canRecordScreen();
  if (!canRecord) {
    showScreenRecordingAlert(false);
    return;
  }
  NotificationCenter& center =
      services_.center ? *services_.center : NotificationCenter::defaultCenter();
  // It only stores an integer: taken on the thread that posts it.
  observers_.push_back(
      center.observe(device::GlassReport::kDisplayStatusNotification, nullptr,
                     [this](const Notification& note) { road_->onGlassDisplayStatus(note); }));
  observers_.push_back(center.observe(
      ConnectionRoad::kStatusChange, services_.mainQueue,
      [this](const Notification& note) { road_->onGlassDisplayStatusChange(note); }));
  // The companion server hears the glasses from their first report on.
  if (services_.installCompanionBridge) {
    services_.installCompanionBridge(*qxServer_);
  } else {
    installCompanionBridge(*qxServer_);
  }
  qxServer_->shareManager();
  monitoringStarted_ = true;
  services_.trace("眼镜监控已启动");
}

void AppDelegate::showScreenRecordingAlert(bool waylandSession) {
  AlertRequest request;
  request.critical = true;
  request.messageText = localized(kScreenRecordingTitle);
  request.informativeText = localized(waylandSession ? kX11SessionText : kScreenRecordingText);
  request.buttons = {localized(kScreenRecordingButton)};
  std::weak_ptr<bool> alive = alive_;
  auto done = [this, alive](size_t) {
    const auto live = alive.lock();
    if (!live || !*live) return;
    if (services_.showScreenRecordingPrompt) {
      services_.showScreenRecordingPrompt();
    } else {
      device::OrvexUSBServiceOC::shareManager().showScreenRecordingPrompt();
    }
    displays().openScreenCapturePrivacySettings();
    // The settings get a moment to come up before the application goes.
    services_.mainQueue->postAfter(kAlertExitDelay, [this, alive] {
      const auto again = alive.lock();
      if (!again || !*again) return;
      exitAppWithIsRecover(false);
      terminate();
    });
  };
  services_.trace(request.messageText + ": " + request.informativeText);
  if (!services_.alerts) {
    done(0);
    return;
  }
  services_.alerts->present(request, std::move(done));
}

// ---- The 3D window ----

void AppDelegate::setDepthManagerFactory(
    std::function<std::shared_ptr<DepthManagerControl>()> factory) {
  makeDepthManager_ = std::move(factory);
}

void AppDelegate::openAI3D() {
  if (!depthManager_ && makeDepthManager_) depthManager_ = makeDepthManager_();
  if (depthManager_) depthManager_->open3DWindow();
}

void AppDelegate::closeGlass() {
  setGlassDisplayStatus(1);
  restoreBuiltinBrightness();
  if (depthManager_) depthManager_->close3DWindow();
}

bool AppDelegate::checkORVEXGLASSWithName1WithDisplayName(const std::string& displayName) const {
  return device::isGlassesScreenName(displayName);
}

// ---- Exit ----

void AppDelegate::exitAppWithIsRecover(bool) {
  exitCleanupRuns_.fetch_add(1);
  services_.trace("exitAppWithIsRecover: exit clean-up");
  // The panel is lit again before anything else: whatever follows may fail.
  if (dimmer_) dimmer_->restoreBuiltinBrightnessSync(services_.exitRestoreLimit);
  setIsExit(true);
  // The glasses back to 2D through a fresh transport, whatever resolution
  // change is pending; the 3D window's own close then sends nothing more.
  if (qxServer_->ioHidDevice()) qxServer_->switchTo2DForExit();
  if (depthManager_) depthManager_->close3DWindow();
  // Nothing will follow the 2D switch with the narrow mode: set it now.
  if (!displays().restoreGlasses1920Sync(services_.exitRestoreLimit)) {
    services_.trace("exitAppWithIsRecover: the glasses' screen could not be set back to 1920");
  }
}

}  // namespace vistrelle
