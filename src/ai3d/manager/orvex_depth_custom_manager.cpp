#include "ai3d/manager/orvex_depth_custom_manager.h"

#include <chrono>
#include <exception>
#include <stdexcept>

#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"
#include "base/helpers/language_bundle.h"
#include "base/log/orvex_log.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"

namespace vistrelle::ai3d {
namespace {

double inSeconds(dispatch::Nanos delay) {
  return std::chrono::duration<double>(delay).count();
}

}  // namespace

std::shared_ptr<OrvexDepthCustomManager> OrvexDepthCustomManager::makeDepthManager(
    Environment environment) {
  static std::mutex mutex;
  // Never destroyed: the manager lives as long as the process.
  static auto* shared = new std::shared_ptr<OrvexDepthCustomManager>();
  std::lock_guard lock(mutex);
  if (!*shared) *shared = create(std::move(environment));
  return *shared;
}

std::shared_ptr<OrvexDepthCustomManager> OrvexDepthCustomManager::create(Environment environment) {
  std::shared_ptr<OrvexDepthCustomManager> manager(
      new OrvexDepthCustomManager(std::move(environment)));
  manager->start();
  return manager;
}

OrvexDepthCustomManager::OrvexDepthCustomManager(Environment environment)
    : env_(std::move(environment)),
      state_(env_.state != nullptr ? *env_.state : MainState::shared()),
      center_(env_.center != nullptr ? *env_.center : NotificationCenter::defaultCenter()),
      timer_(env_.timer != nullptr ? *env_.timer : GCXTimer::shared()),
      mainQueue_(env_.mainQueue ? env_.mainQueue : dispatch::mainQueue()),
      globalQueue_(env_.globalQueue ? env_.globalQueue : dispatch::globalQueue()) {
  if (env_.glasses == nullptr || env_.screens == nullptr) {
    throw std::invalid_argument("the AI-3D manager needs the glasses and the screens");
  }
  if (!env_.log) env_.log = [](const std::string& line) { OrvexLog::logMessage(line); };
  if (!env_.showMessage) {
    env_.showMessage = [](const std::string& text) {
      message::TransientMessage::show(base::LanguageBundle::shared().localizedStringForKey(text));
    };
  }
  if (!env_.makeBackend)
    env_.makeBackend = [] { return makeKernelBackend(BackendChoice::Automatic); };

  try {
    backend_ = env_.makeBackend();
  } catch (const std::exception& error) {
    backendFailure_ = error.what();
  }
  if (!backend_) {
    if (backendFailure_.empty()) backendFailure_ = "none could be made";
    env_.log("AI 3D: no kernel back-end: " + backendFailure_);
  }
  // A null completion queue scales and infers on the depth-buffer queue.
  holder_->setScaler(MetalPixelBufferScaler::create(env_.scalerQueue));
  if (backend_) {
    OrvexDepth3DViewController::Environment controller;
    controller.backend = backend_.get();
    controller.viewFactory = &views_;
    controller.glassStatus = [state = &state_] { return state->glassStatus.load(); };
    controller.modelType = [state = &state_] { return state->modelType.load(); };
    controller.depthValue = [state = &state_] { return state->depthValue.load(); };
    controller.depthManager = [holder = holder_] { return holder; };
    controller.mainQueue = mainQueue_;
    controller.depthBufferQueue = env_.depthBufferQueue;
    controller.makeCaptureRecord = env_.makeCaptureRecord;
    controller.log = env_.log;
    controller_ = std::make_unique<OrvexDepth3DViewController>(std::move(controller));
  }
  loader_ = std::make_unique<DepthModelLoader>(holder_, env_.model, env_.keys);
}

OrvexDepthCustomManager::~OrvexDepthCustomManager() {
  cancelCurrentCheck();
  // The controller stops its capture and waits for the frame in work; the
  // views it holds belong to the window, which goes after it.
  controller_.reset();
  views_.setTarget(nullptr);
  window_.reset();
}

void OrvexDepthCustomManager::start() {
  loader_->start(env_.installQueue ? env_.installQueue : globalQueue_);
}

template <typename Fn>
void OrvexDepthCustomManager::after(const dispatch::ExecutorPtr& queue, dispatch::Nanos delay,
                                    Fn fn) {
  queue->postAfter(delay, [weak = weak_from_this(), fn = std::move(fn)]() mutable {
    if (auto self = weak.lock()) fn(*self);
  });
}

template <typename Fn>
void OrvexDepthCustomManager::post(const dispatch::ExecutorPtr& queue, Fn fn) {
  queue->post([weak = weak_from_this(), fn = std::move(fn)]() mutable {
    if (auto self = weak.lock()) fn(*self);
  });
}

std::string OrvexDepthCustomManager::checkStartTimerString() const {
  std::lock_guard lock(checkMutex_);
  return checkStartTimerString_;
}

// ---- Opening ----

void OrvexDepthCustomManager::open3DWindow() {
  if (!mainQueue_->isCurrent()) {
    post(mainQueue_, [](OrvexDepthCustomManager& self) { self.open3DWindow(); });
    return;
  }
  // 1. A new generation: whatever an earlier open still runs stops, and its
  // start check with it; then this open's own check.
  endOpening();
  cancelCurrentCheck();
  auto opening = std::make_shared<Opening>();
  opening->number = openNumber_.load();
  opening->epoch = env_.glasses->connectionEpoch();
  opening->checkId = timer_.start(
      [weak = weak_from_this(), opening] {
        if (auto self = weak.lock()) self->startCheckFired(opening);
      },
      inSeconds(env_.delays.startCheck), 0, false, /*async=*/false);
  {
    std::lock_guard lock(checkMutex_);
    checkStartTimerString_ = opening->checkId;
  }

  // 2.
  if (!state_.glassStatus.load()) {
    env_.log("====眼镜拔出====");
    cancelCheck(opening);
    state_.isAI3DWindowOnGlasses.store(false);
    return;
  }
  post(mainQueue_, [opening](OrvexDepthCustomManager& self) { self.continueOpen(opening); });
}

void OrvexDepthCustomManager::continueOpen(const OpeningPtr& opening) {
  if (stageOf(opening) == Stage::Ended) return;
  // 3. The gate: a kernel back-end and a loaded model. An open during the
  // model's install waits for its outcome.
  if (!controller_) {
    env_.log("AI 3D unavailable: no kernel back-end (" + backendFailure_ + ")");
    refuse(opening);
    return;
  }
  loader_->whenDone(mainQueue_, [weak = weak_from_this(), opening](bool loaded) {
    if (auto self = weak.lock()) self->gateAndShow(opening, loaded);
  });
}

void OrvexDepthCustomManager::gateAndShow(const OpeningPtr& opening, bool loaded) {
  if (stageOf(opening) == Stage::Ended) return;
  if (!loaded) {
    env_.log("AI 3D unavailable: the depth model did not load");
    refuse(opening);
    return;
  }
  // 4.
  if (!window_ && !makeWindow()) {
    env_.log("====3D窗口创建失败====");
    return;
  }
  // 5.
  env_.log("AI 3D window: " + window_->drawingPath());
  window_->makeKeyAndOrderFront();
  controller_->setDynamicFilterParameters();
  // 6.
  if (env_.glasses->hasCurrentDevice()) env_.glasses->switchDisplay3D(true);
  // 7.
  post(globalQueue_, [opening](OrvexDepthCustomManager& self) { self.searchPass(opening); });
}

bool OrvexDepthCustomManager::makeWindow() {
  if (!env_.makeWindow) return false;
  try {
    window_ = env_.makeWindow(*backend_);
  } catch (const std::exception& error) {
    env_.log(std::string("AI 3D window: ") + error.what());
    window_.reset();
  }
  if (!window_) return false;
  window_->setWillClose([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->windowWillClose();
  });
  views_.setTarget(&window_->viewFactory());
  controller_->viewDidLoad();
  return true;
}

void OrvexDepthCustomManager::refuse(const OpeningPtr& opening) {
  env_.log("====电脑或系统不支持====");
  env_.showMessage(kUnsupportedText);
  cancelCheck(opening);
}

// ---- The search for the glasses' screen (global queue) ----

void OrvexDepthCustomManager::searchPass(const OpeningPtr& opening) {
  if (goneStops(opening, "====眼镜拔出===222=")) return;
  after(globalQueue_, env_.delays.searchPass,
        [opening](OrvexDepthCustomManager& self) { self.scanScreens(opening); });
}

void OrvexDepthCustomManager::scanScreens(const OpeningPtr& opening) {
  if (stageOf(opening) == Stage::Ended) return;
  checkExtended(opening, pickGlassScreen(env_.screens->screens(), *env_.screens));
}

void OrvexDepthCustomManager::checkExtended(const OpeningPtr& opening,
                                            std::optional<GlassScreen> screen) {
  if (stageOf(opening) == Stage::Ended) return;
  // While the glasses stay, the search waits for them to be an extended
  // display of their own.
  if (stageOf(opening) == Stage::Current &&
      !env_.screens->cancelGlassesMirrorAndMoveMain(true, true)) {
    env_.log("====重新切换眼镜为拓展显示器====");
    after(globalQueue_, env_.delays.mirrorRetry,
          [opening, screen = std::move(screen)](OrvexDepthCustomManager& self) {
            self.checkExtended(opening, screen);
          });
    return;
  }
  if (!screen) {
    searchPass(opening);  // start over
    return;
  }
  if (goneStops(opening, "====眼镜拔出===333=")) return;
  if (state_.isOpen3D.load()) {
    after(globalQueue_, env_.delays.duty,
          [opening](OrvexDepthCustomManager& self) { self.dutyCommands(opening); });
  }
  if (state_.isCloseIMU.load()) env_.glasses->changeIMUWithGlass(false);
  after(mainQueue_, env_.delays.placement,
        [opening, screen = *screen](OrvexDepthCustomManager& self) {
          self.placeWindow(opening, screen);
        });
}

void OrvexDepthCustomManager::dutyCommands(const OpeningPtr& opening) {
  if (stageOf(opening) != Stage::Current) return;
  env_.glasses->setDuty(9);
  after(globalQueue_, env_.delays.dutyStep, [opening](OrvexDepthCustomManager& self) {
    // Wear detection on, with the thresholds the glasses gave.
    if (self.stageOf(opening) == Stage::Current)
      self.env_.glasses->setLightSensorWearDetection(false);
  });
}

// ---- Placement (main queue) ----

void OrvexDepthCustomManager::placeWindow(const OpeningPtr& opening, const GlassScreen& screen) {
  if (stageOf(opening) == Stage::Ended || !window_) return;
  // A window already on the glasses' screen is not moved.
  if (window_->isOnScreen(screen)) {
    openSucceeded(opening);
    return;
  }
  env_.log("====3D窗口不在眼镜屏幕上====");
  if (goneStops(opening, "====眼镜拔出===444=")) return;
  if (window_->isFullScreen()) {
    window_->toggleFullScreen();
    after(mainQueue_, env_.delays.fullScreenSettle,
          [opening, screen](OrvexDepthCustomManager& self) { self.centreWindow(opening, screen); });
    return;
  }
  centreWindow(opening, screen);
}

void OrvexDepthCustomManager::centreWindow(const OpeningPtr& opening, const GlassScreen& screen) {
  if (stageOf(opening) == Stage::Ended || !window_) return;
  window_->centreOnScreen(screen);
  // Window managers place windows as they see fit: look again.
  after(mainQueue_, env_.delays.placementRetry,
        [opening, screen](OrvexDepthCustomManager& self) { self.placeWindow(opening, screen); });
}

void OrvexDepthCustomManager::openSucceeded(const OpeningPtr& opening) {
  cancelCheck(opening);
  // Before the post, so that its observers read it set.
  state_.isAI3DWindowOnGlasses.store(true);
  center_.post(kSuccessOrError, Value(1));
  post(globalQueue_, [opening](OrvexDepthCustomManager& self) {
    std::lock_guard lock(self.captureMutex_);
    // A close that came first stays a close.
    if (self.stageOf(opening) == Stage::Ended) return;
    self.controller_->startCapture();
  });
  if (!window_->isFullScreen()) window_->toggleFullScreen();
}

void OrvexDepthCustomManager::startCheckFired(const OpeningPtr& opening) {
  // An ended open's check was cancelled; one that fires anyway says nothing.
  if (stageOf(opening) == Stage::Ended) return;
  {
    std::lock_guard lock(checkMutex_);
    if (checkStartTimerString_ == opening->checkId) checkStartTimerString_.clear();
  }
  state_.isAI3DWindowOnGlasses.store(false);
  center_.post(kSuccessOrError, Value(0));
}

// ---- Generations ----

OrvexDepthCustomManager::Stage OrvexDepthCustomManager::stageOf(const OpeningPtr& opening) const {
  if (opening->number != openNumber_.load()) return Stage::Ended;
  if (!state_.glassStatus.load() || env_.glasses->connectionEpoch() != opening->epoch) {
    return Stage::GlassesGone;
  }
  return Stage::Current;
}

bool OrvexDepthCustomManager::goneStops(const OpeningPtr& opening, const char* line) {
  switch (stageOf(opening)) {
    case Stage::Ended:
      return true;
    case Stage::GlassesGone:
      env_.log(line);
      cancelCheck(opening);
      state_.isAI3DWindowOnGlasses.store(false);
      return true;
    case Stage::Current:
      break;
  }
  return false;
}

void OrvexDepthCustomManager::endOpening() {
  openNumber_.fetch_add(1);
}

void OrvexDepthCustomManager::cancelCheck(const OpeningPtr& opening) {
  timer_.cancel(opening->checkId);
  std::lock_guard lock(checkMutex_);
  if (checkStartTimerString_ == opening->checkId) checkStartTimerString_.clear();
}

void OrvexDepthCustomManager::cancelCurrentCheck() {
  std::string identifier;
  {
    std::lock_guard lock(checkMutex_);
    identifier.swap(checkStartTimerString_);
  }
  timer_.cancel(identifier);
}

// ---- Closing, closes and wake ----

void OrvexDepthCustomManager::close3DWindow() {
  if (!mainQueue_->isCurrent()) {
    post(mainQueue_, [](OrvexDepthCustomManager& self) { self.close3DWindow(); });
    return;
  }
  // An open under way ends here: nothing of it shows the window again.
  endOpening();
  cancelCurrentCheck();
  state_.isAI3DWindowOnGlasses.store(false);
  // 1.
  if (env_.glasses->hasCurrentDevice()) env_.glasses->switchDisplay3D(false);
  // 2.
  if (!window_) return;
  const uint64_t closeNumber = openNumber_.load();
  if (window_->isFullScreen()) {
    window_->toggleFullScreen();
    after(mainQueue_, env_.delays.fullScreenSettle,
          [closeNumber](OrvexDepthCustomManager& self) { self.finishClose(closeNumber); });
    return;
  }
  finishClose(closeNumber);
}

void OrvexDepthCustomManager::finishClose(uint64_t closeNumber) {
  // An open that came meanwhile keeps its window.
  if (openNumber_.load() != closeNumber || !window_) return;
  window_->close();
}

void OrvexDepthCustomManager::windowWillClose() {
  endOpening();
  cancelCurrentCheck();
  state_.isAI3DWindowOnGlasses.store(false);
  std::lock_guard lock(captureMutex_);
  if (controller_) controller_->stopCapture();
}

void OrvexDepthCustomManager::handleWake(bool isSleep) {
  if (!window_ || !controller_) return;
  std::lock_guard lock(captureMutex_);
  if (isSleep) {
    controller_->stopCapture();
  } else if (window_->isVisible()) {
    controller_->startCapture();
  } else {
    controller_->stopCapture();
  }
}

}  // namespace vistrelle::ai3d
