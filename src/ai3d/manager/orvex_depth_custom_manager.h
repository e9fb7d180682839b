// OrvexDepthCustomManager: the process-wide object behind "AI 3D". It owns
// the depth model, the kernel back-end, the 3D view controller and the 3D
// window, opens the window on the glasses' screen after switching the
// glasses to 3D, closes it again, and follows the screens' sleep and wake.
//
//   auto manager = OrvexDepthCustomManager::makeDepthManager(environment);  // once per process
//   manager->open3DWindow();    // main queue
//   manager->close3DWindow();
//   manager->handleWake(false);
//
// Creation installs and loads the model on the global queue; an open that
// comes while that runs waits for its result. The window is made at the
// first open and kept. An open runs as a chain of timers (no thread ever
// sleeps): the search for the glasses' screen and the duty commands on the
// global queue, the placement on the main queue. Every open gets its own
// generation: a later open, a close, the window closing or the glasses going
// (a new connection epoch) ends it, and every stage, timer and post of an
// ended open does nothing.
//
// Posts "ORVEX_Glass_Display_StatusChange_SuccessOrError" with 1 once the
// window stands on the glasses' screen, or 0 when the start check fires
// first; MainState's isAI3DWindowOnGlasses is true from just before the 1
// until the window closes, the glasses go or the check reports 0.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/manager/depth_manager_delays.h"
#include "ai3d/manager/depth_window.h"
#include "ai3d/manager/forwarding_eye_view_factory.h"
#include "ai3d/manager/glass_screen_finder.h"
#include "ai3d/manager/glasses_control.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/depth_model_install.h"
#include "ai3d/pipeline/depth_model_loader.h"
#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"
#include "base/state/main_state.h"
#include "base/timer/gcx_timer.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::ai3d {

class OrvexDepthCustomManager : public std::enable_shared_from_this<OrvexDepthCustomManager> {
 public:
  static constexpr const char* kSuccessOrError = "ORVEX_Glass_Display_StatusChange_SuccessOrError";
  static constexpr const char* kUnsupportedText = "电脑或系统不支持";

  // What the manager reads of the application. glasses, screens and
  // makeWindow are needed; the rest have defaults.
  struct Environment {
    GlassesControl* glasses = nullptr;     // outlives the manager
    GlassScreenFinder* screens = nullptr;  // outlives the manager
    DepthWindowMaker makeWindow;           // main queue; null: the window cannot be made
    MainState* state = nullptr;            // default: MainState::shared()
    NotificationCenter* center = nullptr;  // default: the default centre
    dispatch::ExecutorPtr mainQueue;       // default: the runtime's main queue
    dispatch::ExecutorPtr globalQueue;     // default: the runtime's global queue
    GCXTimer* timer = nullptr;             // the start check's; default: GCXTimer::shared()
    DepthManagerDelays delays;
    // The kernel back-end; default: the automatic choice. Null or a throw:
    // no back-end, and every open is refused.
    std::function<std::unique_ptr<KernelBackend>()> makeBackend;
    DepthModelEnvironment model;             // the model install's
    dispatch::ExecutorPtr installQueue;      // where it runs; default: the global queue
    std::optional<OrvexDecryptAESGCM> keys;  // default: the program's own
    dispatch::ExecutorPtr scalerQueue;       // default: none (on the depth-buffer queue)
    dispatch::ExecutorPtr depthBufferQueue;  // default: the controller's own
    // The capture record the controller makes; default: X11 capture.
    std::function<std::unique_ptr<OrvexScreenCaptureRecord>()> makeCaptureRecord;
    std::function<void(const std::string&)> log;          // default: the text log
    std::function<void(const std::string&)> showMessage;  // default: a toast of the localised text
  };

  // The process' manager: made by the first call (which starts the model's
  // install), the same one for every later call, whose environment is then
  // not used.
  static std::shared_ptr<OrvexDepthCustomManager> makeDepthManager(Environment environment);
  // A manager of its own (tests, benchmarks); starts the model's install.
  static std::shared_ptr<OrvexDepthCustomManager> create(Environment environment);
  // Main queue, once its queues are idle: the window goes with it.
  ~OrvexDepthCustomManager();
  OrvexDepthCustomManager(const OrvexDepthCustomManager&) = delete;
  OrvexDepthCustomManager& operator=(const OrvexDepthCustomManager&) = delete;

  // Main queue.
  void open3DWindow();
  void close3DWindow();
  void handleWake(bool isSleep);
  // The window's close (by close3DWindow or the window manager): stops the
  // capture and ends an open still under way.
  void windowWillClose();

  // The model's install: Loading until it ended.
  DepthModelLoader::State modelState() const { return loader_->state(); }
  const std::shared_ptr<DepthModelHolder>& depthModelHolder() const { return holder_; }
  // The loaded model (none until its install succeeded) and the scaler.
  std::shared_ptr<DepthModel> model() const { return holder_->model(); }
  std::shared_ptr<MetalPixelBufferScaler> scaler() const { return holder_->scaler(); }
  // Null when no back-end could be made.
  OrvexDepth3DViewController* deopth3DViewController() const { return controller_.get(); }
  KernelBackend* backend() const { return backend_.get(); }
  // Null until the first open made it.
  DepthWindow* depthWindow() const { return window_.get(); }
  std::string checkStartTimerString() const;

 private:
  // One open3DWindow, as its stages see it.
  struct Opening {
    uint64_t number = 0;  // the open counter's value for it
    uint64_t epoch = 0;   // the glasses' connection at the open
    std::string checkId;  // its start check
  };
  using OpeningPtr = std::shared_ptr<const Opening>;
  enum class Stage { Ended, GlassesGone, Current };

  explicit OrvexDepthCustomManager(Environment environment);
  void start();

  // Stages of an open, each gated by its generation.
  Stage stageOf(const OpeningPtr& opening) const;
  bool goneStops(const OpeningPtr& opening, const char* line);
  void continueOpen(const OpeningPtr& opening);              // main: gate, window, 3D on
  void gateAndShow(const OpeningPtr& opening, bool loaded);  // main
  void searchPass(const OpeningPtr& opening);                // global
  void scanScreens(const OpeningPtr& opening);               // global
  void checkExtended(const OpeningPtr& opening, std::optional<GlassScreen> screen);  // global
  void dutyCommands(const OpeningPtr& opening);                                      // global
  void placeWindow(const OpeningPtr& opening, const GlassScreen& screen);            // main
  void centreWindow(const OpeningPtr& opening, const GlassScreen& screen);           // main
  void openSucceeded(const OpeningPtr& opening);                                     // main
  void startCheckFired(const OpeningPtr& opening);                                   // main

  void refuse(const OpeningPtr& opening);
  void endOpening();  // a new generation: every stage of the running open stops
  void cancelCheck(const OpeningPtr& opening);
  void cancelCurrentCheck();
  bool makeWindow();
  void finishClose(uint64_t closeNumber);

  // Posts fn(manager) to queue after delay, as long as the manager lives.
  template <typename Fn>
  void after(const dispatch::ExecutorPtr& queue, dispatch::Nanos delay, Fn fn);
  template <typename Fn>
  void post(const dispatch::ExecutorPtr& queue, Fn fn);

  Environment env_;
  MainState& state_;
  NotificationCenter& center_;
  GCXTimer& timer_;
  dispatch::ExecutorPtr mainQueue_;
  dispatch::ExecutorPtr globalQueue_;

  std::unique_ptr<KernelBackend> backend_;
  std::string backendFailure_;
  std::shared_ptr<DepthModelHolder> holder_ = std::make_shared<DepthModelHolder>();
  std::unique_ptr<DepthModelLoader> loader_;
  ForwardingEyeViewFactory views_;
  std::unique_ptr<OrvexDepth3DViewController> controller_;
  std::unique_ptr<DepthWindow> window_;  // main queue

  std::atomic<uint64_t> openNumber_{0};  // the current open's generation
  mutable std::mutex checkMutex_;
  std::string checkStartTimerString_;
  // Start and stop of the capture, so that a start decided on the global
  // queue never lands after a stop made for a close.
  std::mutex captureMutex_;
};

}  // namespace vistrelle::ai3d
