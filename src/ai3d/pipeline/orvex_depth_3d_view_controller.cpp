#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"

#include <array>
#include <exception>
#include <shared_mutex>
#include <stdexcept>

#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/dynamic_filter_preset.h"
#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"
#include "base/log/orvex_log.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::ai3d {

// What posted tasks reach the controller through. Ports are never freed,
// only reused, so a task may outlive its controller (a queue that is never
// run, a post dropped after the runtime stopped) without anything to free:
// a task of an earlier use finds another generation and does nothing. A
// running task holds the gate shared; the controller's end takes it whole.
struct OrvexDepth3DViewController::Port {
  std::shared_mutex gate;
  OrvexDepth3DViewController* owner = nullptr;
  uint32_t generation = 0;
  std::atomic<bool> inUse{false};
};

namespace {

// More controllers than this alive at once would be a fault of its own.
constexpr size_t kPorts = 64;

}  // namespace

OrvexDepth3DViewController::Port* OrvexDepth3DViewController::takePort(
    OrvexDepth3DViewController* owner, uint32_t* generation) {
  static std::mutex mutex;
  static std::array<Port, kPorts> ports;
  std::lock_guard lock(mutex);
  for (Port& port : ports) {
    if (port.inUse.load(std::memory_order_acquire)) continue;
    std::unique_lock gate(port.gate);
    port.inUse.store(true, std::memory_order_relaxed);
    port.owner = owner;
    *generation = ++port.generation;
    return &port;
  }
  throw std::runtime_error("too many 3D view controllers at once");
}

void OrvexDepth3DViewController::givePortBack() {
  {
    std::unique_lock gate(port_->gate);  // a task running now finishes first
    port_->owner = nullptr;
    ++port_->generation;
  }
  port_->inUse.store(false, std::memory_order_release);
}

template <void (OrvexDepth3DViewController::*Method)()>
void OrvexDepth3DViewController::post(const dispatch::ExecutorPtr& queue) {
  Port* port = port_;
  const uint32_t generation = portGeneration_;
  queue->post([port, generation] {
    std::shared_lock lock(port->gate);
    if (port->generation == generation && port->owner != nullptr) (port->owner->*Method)();
  });
}

OrvexDepth3DViewController::OrvexDepth3DViewController(Environment environment)
    : env_(std::move(environment)),
      onDepthCompletion_([this](const capture::CaptureFramePtr& captured,
                                const DepthMapView* depth) { onDepth(captured, depth); }),
      onFinished_([this] { frameFinished(); }),
      port_(takePort(this, &portGeneration_)) {
  try {
    if (env_.backend == nullptr || env_.viewFactory == nullptr || !env_.glassStatus ||
        !env_.modelType || !env_.depthValue || !env_.depthManager) {
      throw std::invalid_argument("the 3D view controller needs its whole environment");
    }
    mainQueue_ = env_.mainQueue ? env_.mainQueue : dispatch::mainQueue();
    depthBufferQueue_ = env_.depthBufferQueue ? env_.depthBufferQueue
                                              : dispatch::makeSerialQueue(kDepthBufferQueueLabel);
    if (!env_.log) env_.log = [](const std::string& line) { OrvexLog::logMessage(line); };
    if (!env_.makeCaptureRecord) {
      env_.makeCaptureRecord = [] { return std::make_unique<OrvexScreenCaptureRecord>(); };
    }
    sgHalf = std::make_unique<StereoGenerationHalf>(*env_.backend);
    DynamicDepthFilter = std::make_unique<OrvexDynamicDepthFilter>(*env_.backend);
  } catch (...) {
    givePortBack();
    throw;
  }
}

OrvexDepth3DViewController::~OrvexDepth3DViewController() {
  if (ScreenCaptureRecord) ScreenCaptureRecord->stopRecording();
  session_.fetch_add(1);
  {
    // The one place that waits for the frame in work: its road uses this
    // object to its end.
    std::unique_lock lock(mailboxMutex_);
    waiting_.reset();
    idle_.wait(lock, [this] { return !inWork_; });
  }
  givePortBack();
}

void OrvexDepth3DViewController::viewDidLoad() {
  setupMetalViews();
  ScreenCaptureRecord = env_.makeCaptureRecord();
  if (ScreenCaptureRecord) {
    ScreenCaptureRecord->setRecordingBufferCallBack(
        [this](const capture::CaptureFramePtr& frame, int tag) { onCapturedFrame(frame, tag); });
  }
}

bool OrvexDepth3DViewController::setupMetalViews() {
  std::shared_ptr<EyeView> left = env_.viewFactory->makeView(false);
  std::shared_ptr<EyeView> right = env_.viewFactory->makeView(true);
  std::string reason;
  std::unique_ptr<FrameTextureCache> cache = env_.viewFactory->makeTextureCache(&reason);
  std::lock_guard lock(viewsMutex_);
  if (!cache) {
    // Without a cache no frame can reach the views: they stay empty (black)
    // and the failure is reported instead of ending the process.
    env_.log("Failed to create Metal texture cache: " + reason);
    leftView_.reset();
    rightView_.reset();
    textureCache_.reset();
    viewsError_ = reason;
    return false;
  }
  leftView_ = std::move(left);
  rightView_ = std::move(right);
  textureCache_ = std::move(cache);
  viewsError_.reset();
  return true;
}

void OrvexDepth3DViewController::startCapture() {
  stopCapture();
  if (!env_.glassStatus() || !ScreenCaptureRecord) return;
  ScreenCaptureRecord->setTag(0);
  ScreenCaptureRecord->prepare(OrvexScreenCaptureRecord::kMainDisplayID);
}

void OrvexDepth3DViewController::stopCapture() {
  // No frame enters once the stream has stopped.
  if (ScreenCaptureRecord) ScreenCaptureRecord->stopRecording();
  // Results are gated by session: the frame in work (perhaps deep in a
  // model's pass) ends its road unseen, and the next session's first frame
  // resets the filter before it is filtered. Nothing here waits for it.
  session_.fetch_add(1);
  {
    std::lock_guard lock(mailboxMutex_);
    waiting_.reset();
  }
  {
    std::lock_guard lock(presentationMutex_);
    presentation_ = {};
  }
  bool hadViews = false;
  {
    std::lock_guard lock(viewsMutex_);
    hadViews = leftView_ && rightView_;
  }
  if (hadViews) post<&OrvexDepth3DViewController::rebuildViews>(mainQueue_);
}

void OrvexDepth3DViewController::rebuildViews() {
  setupMetalViews();
}

void OrvexDepth3DViewController::setDynamicFilterParameters() {
  const DynamicFilterPreset preset = dynamicFilterPresetForModelType(env_.modelType());
  alpha = preset.alpha;
  eta = preset.eta;
  sceneChangeThresh = preset.sceneChangeThresh;
}

void OrvexDepth3DViewController::onCapturedFrame(const capture::CaptureFramePtr& frame, int) {
  if (!frame) return;
  {
    std::lock_guard lock(mailboxMutex_);
    ++counters_.captured;
    if (waiting_) ++counters_.replaced;
    waiting_ = frame;
    waitingSession_ = session_.load();
    if (working_) return;
    working_ = true;
  }
  post<&OrvexDepth3DViewController::workNext>(depthBufferQueue_);
}

void OrvexDepth3DViewController::workNext() {
  capture::CaptureFramePtr frame;
  {
    std::lock_guard lock(mailboxMutex_);
    frame = std::move(waiting_);
    waiting_.reset();
    if (!frame) {
      working_ = false;
      idle_.notify_all();
      return;
    }
    workSession_ = waitingSession_;
    inWork_ = true;
  }
  requestDepth(frame);
}

void OrvexDepth3DViewController::requestDepth(const capture::CaptureFramePtr& frame) {
  const std::shared_ptr<DepthModelHolder> manager = env_.depthManager();
  std::shared_ptr<MetalPixelBufferScaler> scaler = manager ? manager->scaler() : nullptr;
  if (!manager || !manager->model() || !scaler) {
    frameFinished();
    return;
  }
  scaler->scaleAndInfer(frame, kDepthWidth, kDepthHeight, onDepthCompletion_, frame, manager,
                        onFinished_);
}

void OrvexDepth3DViewController::onDepth(const capture::CaptureFramePtr& captured,
                                         const DepthMapView* depth) {
  if (depth == nullptr || !DynamicDepthFilter) return;
  std::lock_guard state(stateMutex_);
  if (workSession_ != session_.load()) {
    std::lock_guard lock(mailboxMutex_);
    ++counters_.stale;
    return;
  }
  try {
    // One batch for the filter and the stereo passes: a GL back-end makes
    // its context current once for the frame.
    KernelBackend::Batch batch(*env_.backend);
    if (filterSession_ != workSession_) {
      DynamicDepthFilter->reset();  // the first frame since a stop
      filterSession_ = workSession_;
    }
    std::shared_ptr<const KernelMap> filtered =
        DynamicDepthFilter->apply(*depth, alpha.load(), eta.load(), sceneChangeThresh.load());
    onFilteredDepth(captured, std::move(filtered));
  } catch (const std::exception& error) {
    env_.log(std::string("depth frame dropped: ") + error.what());
  }
}

void OrvexDepth3DViewController::onFilteredDepth(const capture::CaptureFramePtr& captured,
                                                 std::shared_ptr<const KernelMap> filtered) {
  if (!filtered || !sgHalf) return;
  // The call passes the literals the fields hold.
  std::optional<StereoMaps> maps =
      sgHalf->generate(std::move(filtered), 0.2f, 600.0f, env_.depthValue());
  if (!maps) return;
  onStereo(std::move(maps->left), std::move(maps->right), captured);
}

void OrvexDepth3DViewController::onStereo(std::shared_ptr<const KernelMap> left,
                                          std::shared_ptr<const KernelMap> right,
                                          const capture::CaptureFramePtr& captured) {
  if (!left || !right) return;
  present(captured, std::move(left), std::move(right));
}

void OrvexDepth3DViewController::present(const capture::CaptureFramePtr& frame,
                                         std::shared_ptr<const KernelMap> left,
                                         std::shared_ptr<const KernelMap> right) {
  if (!frame) return;
  std::shared_ptr<FrameTextureCache> cache;
  {
    std::lock_guard lock(viewsMutex_);
    cache = textureCache_;
  }
  if (!cache) return;
  capture::CaptureFramePtr leftTexture = cache->wrap(frame);
  capture::CaptureFramePtr rightTexture = cache->wrap(frame);
  if (!leftTexture || !rightTexture) return;
  left = cache->wrapMap(std::move(left));
  right = cache->wrapMap(std::move(right));
  if (!left || !right) return;
  bool postNeeded = false;
  bool overtook = false;
  {
    std::lock_guard lock(presentationMutex_);
    overtook = presentation_.leftTexture != nullptr;
    presentation_ = Presentation{workSession_, std::move(leftTexture), std::move(rightTexture),
                                 std::move(left), std::move(right)};
    postNeeded = !presentationPosted_;
    presentationPosted_ = true;
  }
  {
    std::lock_guard lock(mailboxMutex_);
    ++counters_.presented;
    if (overtook) ++counters_.overtaken;
  }
  if (postNeeded) post<&OrvexDepth3DViewController::showPresentation>(mainQueue_);
}

void OrvexDepth3DViewController::showPresentation() {
  Presentation shown;
  {
    std::lock_guard lock(presentationMutex_);
    shown = std::move(presentation_);
    presentation_ = {};
    presentationPosted_ = false;
  }
  if (!shown.leftTexture) return;  // dropped by a stop
  updateViews(shown.session, std::move(shown.leftTexture), std::move(shown.rightTexture),
              std::move(shown.left), std::move(shown.right));
}

void OrvexDepth3DViewController::updateViews(uint64_t session, capture::CaptureFramePtr leftTexture,
                                             capture::CaptureFramePtr rightTexture,
                                             std::shared_ptr<const KernelMap> left,
                                             std::shared_ptr<const KernelMap> right) {
  if (!isCurrentSession(session)) {
    std::lock_guard lock(mailboxMutex_);
    ++counters_.stale;
    return;
  }
  std::shared_ptr<EyeView> leftView, rightView;
  {
    std::lock_guard lock(viewsMutex_);
    leftView = leftView_;
    rightView = rightView_;
  }
  const float depthValue = env_.depthValue();
  // Both views get their textures before either draws, so that views over
  // one surface can draw both eyes from one upload of the frame.
  if (leftView) {
    leftView->setTextures(std::move(leftTexture), left, right);
    leftView->setDepthValue(depthValue);
  }
  if (rightView) {
    rightView->setTextures(std::move(rightTexture), left, right);
    rightView->setDepthValue(depthValue);
  }
  if (leftView) leftView->draw();
  if (rightView) rightView->draw();
}

void OrvexDepth3DViewController::frameFinished() {
  bool more = false;
  {
    std::lock_guard lock(mailboxMutex_);
    ++counters_.worked;
    inWork_ = false;
    more = waiting_ != nullptr;
    if (!more) working_ = false;
    idle_.notify_all();
  }
  if (more) post<&OrvexDepth3DViewController::workNext>(depthBufferQueue_);
}

bool OrvexDepth3DViewController::isCurrentSession(uint64_t session) const {
  return session == session_.load();
}

std::shared_ptr<EyeView> OrvexDepth3DViewController::metalLeftView() const {
  std::lock_guard lock(viewsMutex_);
  return leftView_;
}

std::shared_ptr<EyeView> OrvexDepth3DViewController::metalRightView() const {
  std::lock_guard lock(viewsMutex_);
  return rightView_;
}

std::optional<std::string> OrvexDepth3DViewController::viewsError() const {
  std::lock_guard lock(viewsMutex_);
  return viewsError_;
}

OrvexDepth3DViewController::Counters OrvexDepth3DViewController::counters() const {
  std::lock_guard lock(mailboxMutex_);
  return counters_;
}

void OrvexDepth3DViewController::waitUntilIdle() {
  std::unique_lock lock(mailboxMutex_);
  idle_.wait(lock, [this] { return !working_ && !inWork_ && !waiting_; });
}

}  // namespace vistrelle::ai3d
