#include "app/connection_road.h"

#include <cstdio>

#include "app/companion/companion_bridge.h"
#include "base/helpers/language_bundle.h"
#include "base/log/orvex_log.h"
#include "base/settings/settings_keys.h"
#include "device/display/display_configuration.h"
#include "device/display/glasses_screen_name.h"
#include "device/firmware/dfu_notifications.h"
#include "device/hid/glasses_device_table.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"

namespace vistrelle {

// One plug-in's road.  Its phase is read from every queue; the counters
// below it belong to the chain of stages, which runs one stage at a time.
struct ConnectionRoad::Road {
  uint64_t epoch = 0;
  uint64_t number = 0;
  std::atomic<Phase> phase{Phase::Running};

  std::mutex mutex;  // the waits below
  dispatch::DelayedTask mainWait;
  dispatch::DelayedTask globalWait;

  dispatch::Nanos setupWaited{0};
  bool noticeShown = false;
  int passes = 0;
  int versionTries = 0;
};

namespace {

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string epochText(uint64_t epoch) {
  return " (连接 " + std::to_string(epoch) + ")";
}

}  // namespace

std::shared_ptr<ConnectionRoad> ConnectionRoad::create(Environment environment) {
  return std::shared_ptr<ConnectionRoad>(new ConnectionRoad(std::move(environment)));
}

ConnectionRoad::ConnectionRoad(Environment environment)
    : env_([&] {
        if (!environment.mainQueue) environment.mainQueue = dispatch::mainQueue();
        if (!environment.globalQueue) environment.globalQueue = dispatch::globalQueue();
        if (!environment.isScreenLocked) {
          device::DisplayConfiguration* displays = environment.displays;
          environment.isScreenLocked = [displays] { return displays->isScreenLocked(); };
        }
        if (!environment.setImuId) {
          environment.setImuId = [](int64_t id) {
            if (auto bridge = companionBridge()) bridge->setImu_id(id);
          };
        }
        if (!environment.log) {
          environment.log = [](std::string_view line) { OrvexLog::logMessage(line); };
        }
        if (!environment.trace) {
          environment.trace = [](std::string_view line) {
            std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(stdout);
          };
        }
        if (!environment.localize) {
          environment.localize = [](std::string_view key) {
            return base::LanguageBundle::shared().localizedStringForKey(key);
          };
        }
        return std::move(environment);
      }()),
      state_(env_.state ? *env_.state : MainState::shared()),
      defaults_(env_.defaults ? *env_.defaults : UserDefaults::standard()),
      center_(env_.center ? *env_.center : NotificationCenter::defaultCenter()),
      mainQueue_(env_.mainQueue),
      globalQueue_(env_.globalQueue) {}

ConnectionRoad::~ConnectionRoad() {
  RoadPtr road;
  {
    std::lock_guard lock(mutex_);
    road = std::move(road_);
  }
  if (road) finish(road, Phase::Ended);
}

std::string ConnectionRoad::text(std::string_view key) const {
  return env_.localize(key);
}

// Asked for at use: the shared registry needs the process' runtime.
GCXTimer& ConnectionRoad::timer() {
  return env_.timer ? *env_.timer : GCXTimer::shared();
}

// ---- The road's bookkeeping ----

// A road that reached its end still delivers the posts of its last stage,
// as long as its connection lasts.
bool ConnectionRoad::alive(const RoadPtr& road) const {
  return road->phase.load() != Phase::Ended && road->epoch == env_.glasses->connectionEpoch() &&
         state_.glassStatus.load();
}

bool ConnectionRoad::isRunning() const {
  std::lock_guard lock(mutex_);
  return road_ && road_->phase.load() == Phase::Running && alive(road_);
}

void ConnectionRoad::finish(const RoadPtr& road, Phase phase) {
  Phase running = Phase::Running;
  road->phase.compare_exchange_strong(running, phase);
  if (phase != Phase::Ended) return;
  road->phase.store(Phase::Ended);
  std::lock_guard lock(road->mutex);
  road->mainWait.cancel();
  road->globalWait.cancel();
}

template <typename Fn>
void ConnectionRoad::later(const RoadPtr& road, const dispatch::ExecutorPtr& queue,
                           dispatch::Nanos delay, Fn fn) {
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  dispatch::Task task = [self, road, fn = std::move(fn)]() mutable {
    auto me = self.lock();
    if (!me || !me->alive(road)) return;
    fn(*me);
  };
  if (delay <= dispatch::Nanos::zero()) {
    queue->post(std::move(task));
    return;
  }
  dispatch::DelayedTask handle = queue->postAfter(delay, std::move(task));
  std::lock_guard lock(road->mutex);
  (queue == mainQueue_ ? road->mainWait : road->globalWait) = handle;
  // Ended while the handle was being made: the wait goes too.
  if (road->phase.load() == Phase::Ended) handle.cancel();
}

void ConnectionRoad::schedule(const RoadPtr& road, const dispatch::ExecutorPtr& queue,
                              dispatch::Nanos delay, Step step) {
  later(road, queue, delay, [road, step](ConnectionRoad& me) { (me.*step)(road); });
}

// ---- Notifications ----

void ConnectionRoad::onGlassDisplayStatusChange(const Notification& notification) {
  const std::optional<bool> plugged = notification.object.asBool();
  if (!plugged) return;
  if (*plugged) {
    plugIn();
  } else {
    pullOut();
  }
}

void ConnectionRoad::onGlassDisplayStatus(const Notification& notification) {
  const Value& object = notification.object;
  state_.glassDisplayStatus.store(object.isInteger() ? static_cast<int>(*object.asInt()) : 2);
}

void ConnectionRoad::onGlassVersion(const Notification& notification) {
  const std::string* version = notification.object.asString();
  if (!version) return;
  state_.glassVersion.set(*version);
  env_.trace("眼镜固件版本: " + *version);
  if (env_.glasses->glassGeneration() != 1) return;
  const bool soundOff =
      defaults_.boolForKey(settings_keys::kDisplayVolumeIsSoundOff).value_or(false);
  state_.isSoundOff.store(soundOff);
  if (env_.setGlassVolume) env_.setGlassVolume(state_.volumeLevel.load(), soundOff);
}

// ---- Plug-in ----

void ConnectionRoad::plugIn() {
  const uint64_t epoch = env_.glasses->connectionEpoch();
  RoadPtr previous;
  RoadPtr road;
  {
    std::lock_guard lock(mutex_);
    if (road_ && road_->epoch == epoch) {
      const Phase phase = road_->phase.load();
      // A second plug status of the same connection (the home window posts
      // one when displays change) neither doubles nor restarts its road.
      if (phase == Phase::Running || phase == Phase::Finished) return;
    }
    previous = std::move(road_);
    road = std::make_shared<Road>();
    road->epoch = epoch;
    road->number = roadsStarted_.fetch_add(1) + 1;
    road_ = road;
  }
  if (previous) finish(previous, Phase::Ended);
  env_.trace("眼镜已插入" + epochText(epoch));
  onGlobal(road, &ConnectionRoad::lockedWait);
}

void ConnectionRoad::lockedWait(const RoadPtr& road) {
  if (env_.isScreenLocked()) {
    env_.log(kLockedLine);
    schedule(road, globalQueue_, kLockPoll, &ConnectionRoad::lockedWait);
    return;
  }
  onMain(road, &ConnectionRoad::afterUnlock);
}

void ConnectionRoad::afterUnlock(const RoadPtr& road) {
  // A pending return to the home content is dropped: the glasses are back.
  timer().cancel(state_.showHomeTimerIdentification.get());
  env_.glasses->changeIMUWithGlass(true);
  state_.privacyScreenLockButtonState.store(static_cast<int>(
      defaults_.integerForKey(settings_keys::kPrivacyScreenLockState).value_or(0)));
  env_.glasses->getOrvexGlassFirmwareVersion();
  if (!env_.checkAppUpdate) {
    continueAfterUpdateCheck(road, true);
    return;
  }
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  env_.checkAppUpdate([self, road](bool ok) {
    auto me = self.lock();
    if (!me) return;
    // Whichever thread answers, the road goes on from the main queue.
    me->later(road, me->mainQueue_, {},
              [road, ok](ConnectionRoad& road2) { road2.continueAfterUpdateCheck(road, ok); });
  });
}

void ConnectionRoad::continueAfterUpdateCheck(const RoadPtr& road, bool ok) {
  if (!ok) {
    env_.trace("应用更新提示显示中: 眼镜设置暂停");
    showConnectTips(road);
    return;
  }
  onGlobal(road, &ConnectionRoad::decideSetup);
}

void ConnectionRoad::decideSetup(const RoadPtr& road) {
  if (env_.displays->isMacMiniWithOnlyGlassesScreens()) {
    onMain(road, &ConnectionRoad::showConnectTips);
    return;
  }
  setupAttempt(road);
}

void ConnectionRoad::showConnectTips(const RoadPtr& road) {
  finish(road, Phase::AwaitingScreens);
  env_.trace("等待其他显示器: 显示连接提示");
  if (env_.showConnectTips) env_.showConnectTips();
}

// ---- Stage 1: the glasses' screen out of mirroring, the main display kept ----

void ConnectionRoad::setupAttempt(const RoadPtr& road) {
  if (env_.displays->cancelGlassesMirrorAndMoveMain(true, true)) {
    env_.trace("显示器设置完成: 眼镜为扩展显示器");
    road->passes = 0;
    schedule(road, globalQueue_, kSearchPass, &ConnectionRoad::searchPass);
    return;
  }
  schedule(road, globalQueue_, kSetupRetry, &ConnectionRoad::setupRetry);
}

void ConnectionRoad::setupRetry(const RoadPtr& road) {
  noteWaiting(road, kSetupRetry);
  if (env_.displays->isMacMiniWithOnlyGlassesScreens()) {
    onMain(road, &ConnectionRoad::showConnectTips);
    return;
  }
  setupAttempt(road);
}

void ConnectionRoad::noteWaiting(const RoadPtr& road, dispatch::Nanos waited) {
  road->setupWaited += waited;
  if (road->noticeShown || road->setupWaited < kWaitingNoticeAfter) return;
  road->noticeShown = true;
  env_.trace(kWaitingForExtendedText);
  message::TransientMessage::show(text(kWaitingForExtendedText));
}

// ---- Stage 2: the glasses' screen ----

void ConnectionRoad::searchPass(const RoadPtr& road) {
  bool found = false;
  for (const device::DisplayScreen& screen : env_.displays->screens()) {
    if (screen.builtin) state_.builtinDisplayID.store(screen.displayID);
    if (device::isGlassesScreenName(screen.name)) {
      // With several glasses screens the last one wins.
      state_.glassDisplayID.store(screen.displayID);
      found = true;
    }
  }
  const int limit = state_.isCPUARM.load() ? kSearchLimitArm : kSearchLimitIntel;
  if (found || road->passes == limit) {
    env_.trace(found ? "找到眼镜屏幕 id=" + std::to_string(state_.glassDisplayID.load())
                     : std::string("未找到眼镜屏幕, 继续"));
    versionStage(road);
    return;
  }
  ++road->passes;
  schedule(road, globalQueue_, kSearchPass, &ConnectionRoad::searchPass);
}

// ---- Stage 3: the firmware version ----

void ConnectionRoad::versionStage(const RoadPtr& road) {
  if (!contains(state_.glassVersion.get(), kUnknownVersion)) {
    firmwareCheck(road);
    return;
  }
  road->versionTries = 0;
  versionLoop(road);
}

void ConnectionRoad::versionLoop(const RoadPtr& road) {
  // The boot loader answers no version: the firmware check needs none.
  if (isBootLoaderConnected()) {
    firmwareCheck(road);
    return;
  }
  schedule(road, globalQueue_, kVersionWait, &ConnectionRoad::versionTick);
}

void ConnectionRoad::versionTick(const RoadPtr& road) {
  if (++road->versionTries == kVersionRequestEvery) {
    env_.glasses->getOrvexGlassFirmwareVersion();
    road->versionTries = 0;
  }
  if (contains(state_.glassVersion.get(), kUnknownVersion)) {
    versionLoop(road);
    return;
  }
  firmwareCheck(road);
}

bool ConnectionRoad::isBootLoaderConnected() const {
  const std::shared_ptr<device::RFDevice> connected = env_.glasses->connectedDevice();
  if (!connected) return false;
  const device::HIDDevice& info = connected->deviceInfo();
  return device::GlassesDeviceTable::isBootLoader(static_cast<uint16_t>(info.vendorId),
                                                  static_cast<uint16_t>(info.productId));
}

// ---- Stage 4: the firmware decision ----

void ConnectionRoad::firmwareCheck(const RoadPtr& road) {
  env_.glasses->checkNeedDfuUpdate(
      [this, road](bool needsUpdate) { handleFirmwareCheckResult(road, needsUpdate); });
}

void ConnectionRoad::handleFirmwareCheckResult(const RoadPtr& road, bool needsUpdate) {
  if (!alive(road)) return;
  if (needsUpdate) {
    env_.trace("眼镜固件需要升级: 显示升级窗口");
    state_.isDfuUpdate.store(true);
    finish(road, Phase::Finished);
    later(road, mainQueue_, {}, [road](ConnectionRoad& me) { me.showDfuWindow(road); });
    return;
  }
  if (state_.isDfuUpdate.load()) {
    // Back after a successful flash: the update window says so, and the
    // glasses are set up at their next plug-in.
    env_.trace("眼镜固件升级完成");
    state_.isDfuUpdate.store(false);
    finish(road, Phase::Finished);
    center_.post(device::dfu_notifications::kStatus, Value(true));
    return;
  }
  env_.trace("眼镜固件无需升级: 配置眼镜");
  onMain(road, &ConnectionRoad::showHomeContent);
  env_.glasses->setImmersion(env_.glasses->getImmersion(), true);
  schedule(road, globalQueue_, kCommandStep, &ConnectionRoad::offsetRequest);
}

void ConnectionRoad::showDfuWindow(const RoadPtr& road) {
  if (isBootLoaderConnected()) state_.isBeginUpdateDfu.store(true);
  setContent(WindowContent::firmwareUpdate);
  (void)road;
}

void ConnectionRoad::showHomeContent(const RoadPtr&) {
  setContent(WindowContent::home);
}

void ConnectionRoad::offsetRequest(const RoadPtr& road) {
  env_.glasses->getIMUOffSetNew();
  schedule(road, globalQueue_, 2 * kCommandStep, &ConnectionRoad::wearInfoRequest);
}

void ConnectionRoad::wearInfoRequest(const RoadPtr& road) {
  env_.glasses->getLightSensorWearInfo();
  if (state_.isOpen3D.load()) {
    schedule(road, globalQueue_, kCommandStep, &ConnectionRoad::wearDetectionOff);
    return;
  }
  finishConfiguration(road);
}

void ConnectionRoad::wearDetectionOff(const RoadPtr& road) {
  env_.glasses->setLightSensorWearDetection(true);
  finishConfiguration(road);
}

void ConnectionRoad::finishConfiguration(const RoadPtr& road) {
  // checkExtendedDisplay: the glasses must not be mirrored now.
  if (!env_.displays->cancelGlassesMirrorAndMoveMain(false, state_.isCPUARM.load())) {
    env_.trace("眼镜不是扩展显示器");
    finish(road, Phase::Finished);
    later(road, mainQueue_, {},
          [road](ConnectionRoad& me) { me.showNotExtendedDisplayAlert(road); });
    return;
  }
  if (env_.glasses->glassGeneration() == 2 && env_.addAudioOutputVolumeListener) {
    env_.addAudioOutputVolumeListener();
  }
  onMain(road, &ConnectionRoad::openAI3D);
}

void ConnectionRoad::openAI3D(const RoadPtr& road) {
  finish(road, Phase::Finished);
  env_.trace("打开3D窗口");
  if (env_.openAI3D) env_.openAI3D();
}

void ConnectionRoad::showNotExtendedDisplayAlert(const RoadPtr&) {
  AlertRequest request;
  request.critical = true;
  request.messageText = text("ORVEX Glass 不是扩展显示器");
  request.informativeText =
      text("ORVEX Glass显示器需要切换到扩展显示器才能正常使用哦，切换完成请重新启动App，是否切换?");
  request.buttons = {text("切换并退出App"), text("取消")};
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  auto done = [self](size_t button) {
    auto me = self.lock();
    if (!me || button != 0) return;
    me->env_.displays->openDisplaysSettings();
    if (me->env_.terminate) me->env_.terminate();
  };
  if (!env_.alerts) {
    env_.log(request.messageText);
    done(request.buttons.size() - 1);
    return;
  }
  env_.alerts->present(request, std::move(done));
}

// ---- Unplug ----

std::string ConnectionRoad::unpluggedVersion(const std::string& version) {
  for (const char* model : {"ORVEX_FW_V", "ORVEX2_FW_V", "ORVEX2PRO_FW_V"}) {
    if (contains(version, model)) return std::string(model) + "-1.0";
  }
  // No model to keep: the text itself must not pass for a known version at
  // the next plug-in.
  return kUnknownVersion;
}

void ConnectionRoad::pullOut() {
  RoadPtr road;
  {
    std::lock_guard lock(mutex_);
    road = road_;
  }
  if (road) finish(road, Phase::Ended);
  env_.trace("眼镜已拔出" + epochText(env_.glasses->connectionEpoch()));
  state_.glassVersion.set(unpluggedVersion(state_.glassVersion.get()));
  env_.setImuId(0);
  if (env_.glasses->glassGeneration() == 2 && env_.removeAudioOutputVolumeListener) {
    env_.removeAudioOutputVolumeListener();
  }
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  mainQueue_->post([self] {
    if (auto me = self.lock()) me->showHomeOrDfuOnUnplug();
  });
  state_.glassDisplayStatus.store(1);
  if (env_.restoreBuiltinBrightness) env_.restoreBuiltinBrightness();
  if (env_.close3DWindow) env_.close3DWindow();
}

void ConnectionRoad::setContent(WindowContent content) {
  AppWindow* window = env_.window ? env_.window() : nullptr;
  if (window) window->setContent(content);
}

void ConnectionRoad::showHomeOrDfuOnUnplug() {
  if (!state_.isDfuUpdate.load()) {
    setContent(WindowContent::home);
    if (env_.resetUpdateView) env_.resetUpdateView();
  } else {
    setContent(WindowContent::firmwareUpdate);
    startShowHomeTimer();
  }
  AppWindow* window = env_.window ? env_.window() : nullptr;
  if (window) window->bringToFront();
}

void ConnectionRoad::startShowHomeTimer() {
  timer().cancel(state_.showHomeTimerIdentification.get());
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  const std::string id = timer().start(
      [self] {
        if (auto me = self.lock()) me->showHomeIfStillUnplugged();
      },
      state_.isDfuUpdateStart.load() ? kShowHomeGraceSeconds : 0, 0, false, true);
  state_.showHomeTimerIdentification.set(id);
}

void ConnectionRoad::showHomeIfStillUnplugged() {
  if (state_.glassStatus.load()) return;
  std::weak_ptr<ConnectionRoad> self = weak_from_this();
  mainQueue_->post([self] {
    auto me = self.lock();
    if (!me) return;
    me->setContent(WindowContent::home);
    if (me->env_.resetUpdateView) me->env_.resetUpdateView();
  });
}

}  // namespace vistrelle
