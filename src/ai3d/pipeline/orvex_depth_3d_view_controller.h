// OrvexDepth3DViewController: carries each captured frame down the road
// capture -> depth-buffer queue -> scale and infer -> temporal filter ->
// stereo generation -> the two eye views, and holds the filter tuning.
//
//   OrvexDepth3DViewController controller(environment);
//   controller.viewDidLoad();                 // views, texture cache, capture record
//   controller.setDynamicFilterParameters();  // presets of the screen mode
//   controller.startCapture();                // only with the glasses connected
//   controller.stopCapture();
//
// Frames never queue up behind a slow model: a mailbox holds the newest
// frame (an older one waiting there is dropped and counted) and one frame at
// a time is worked on; its slot frees when its work ends on whatever road.
// Likewise one finished frame at a time waits for the main queue, the newest.
// Every stop starts a new session and returns at once (the frame in work may
// be in a model's pass for a while): the work of an older session's frame
// writes no filter state and reaches no view. Only the destructor waits for
// the frame in work. Posting a frame's tasks allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/kernels/orvex_dynamic_depth_filter.h"
#include "ai3d/kernels/stereo_generation_half.h"
#include "ai3d/pipeline/depth_model.h"
#include "ai3d/pipeline/eye_view.h"
#include "ai3d/pipeline/orvex_screen_capture_record.h"
#include "platform/capture/capture_frame.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::ai3d {

class DepthModelHolder;

class OrvexDepth3DViewController {
 public:
  static constexpr const char* kDepthBufferQueueLabel = "cn.com.qx.orvexQXUSBService-DepthBuffer";
  static constexpr int kDepthWidth = 518;
  static constexpr int kDepthHeight = 294;

  // What the controller reads of the application; every member is needed
  // except where a default is named.
  struct Environment {
    KernelBackend* backend = nullptr;  // outlives the controller
    EyeViewFactory* viewFactory = nullptr;
    std::function<bool()> glassStatus;
    std::function<int()> modelType;
    std::function<float()> depthValue;
    std::function<std::shared_ptr<DepthModelHolder>()> depthManager;
    dispatch::ExecutorPtr mainQueue;         // default: the runtime's main queue
    dispatch::ExecutorPtr depthBufferQueue;  // default: a serial queue of the runtime
    // The capture record made in viewDidLoad; default: X11 capture.
    std::function<std::unique_ptr<OrvexScreenCaptureRecord>()> makeCaptureRecord;
    std::function<void(const std::string&)> log;  // default: the text log
  };

  struct Counters {
    uint64_t captured = 0;   // frames handed to onCapturedFrame
    uint64_t replaced = 0;   // dropped from the mailbox for a newer frame
    uint64_t worked = 0;     // frames whose work ended, on any road
    uint64_t presented = 0;  // frames handed to the views
    uint64_t overtaken = 0;  // of those, replaced by a newer one before the main queue drew them
    uint64_t stale = 0;      // results of an older session, dropped
  };

  explicit OrvexDepth3DViewController(Environment environment);
  ~OrvexDepth3DViewController();
  OrvexDepth3DViewController(const OrvexDepth3DViewController&) = delete;
  OrvexDepth3DViewController& operator=(const OrvexDepth3DViewController&) = delete;

  // Main queue: makes the views and the capture record.
  void viewDidLoad();
  void startCapture();
  // Stops the stream and starts a new session: the frame in work ends its
  // road unseen and the filter starts afresh with the next frame. Rebuilds
  // the views on the main queue. Never waits for the frame in work.
  void stopCapture();
  void setDynamicFilterParameters();
  // Fresh views and texture cache; false when the cache cannot be made: the
  // failure is logged, the views stay empty and viewsError() tells why.
  bool setupMetalViews();

  // The capture record's callback (video sample queue).
  void onCapturedFrame(const capture::CaptureFramePtr& frame, int tag);

  // Tuning, written from any thread, read once per frame.
  std::atomic<float> alpha{0.05f};
  std::atomic<float> eta{0.2f};
  std::atomic<float> sceneChangeThresh{0.05f};
  const float baseline = 0.2f;
  const float focalLength = 600.0f;

  std::shared_ptr<EyeView> metalLeftView() const;
  std::shared_ptr<EyeView> metalRightView() const;
  std::optional<std::string> viewsError() const;
  OrvexScreenCaptureRecord* screenCaptureRecord() const { return ScreenCaptureRecord.get(); }
  OrvexDynamicDepthFilter& dynamicDepthFilter() { return *DynamicDepthFilter; }
  const dispatch::ExecutorPtr& depthBufferQueue() const { return depthBufferQueue_; }
  Counters counters() const;
  // Bumped by every stop.
  uint64_t session() const { return session_.load(); }
  // Blocks until no frame is in work or waiting.
  void waitUntilIdle();

 private:
  struct Port;
  static Port* takePort(OrvexDepth3DViewController* owner, uint32_t* generation);
  void givePortBack();
  // Posts Method to queue through the port: the task holds one pointer, so
  // it fits the task type's inline room and posting allocates nothing.
  template <void (OrvexDepth3DViewController::*Method)()>
  void post(const dispatch::ExecutorPtr& queue);

  void workNext();
  void requestDepth(const capture::CaptureFramePtr& frame);
  void onDepth(const capture::CaptureFramePtr& captured, const DepthMapView* depth);
  void onFilteredDepth(const capture::CaptureFramePtr& captured,
                       std::shared_ptr<const KernelMap> filtered);
  void onStereo(std::shared_ptr<const KernelMap> left, std::shared_ptr<const KernelMap> right,
                const capture::CaptureFramePtr& captured);
  void present(const capture::CaptureFramePtr& frame, std::shared_ptr<const KernelMap> left,
               std::shared_ptr<const KernelMap> right);
  void showPresentation();  // main queue
  void rebuildViews();      // main queue
  void updateViews(uint64_t session, capture::CaptureFramePtr leftTexture,
                   capture::CaptureFramePtr rightTexture, std::shared_ptr<const KernelMap> left,
                   std::shared_ptr<const KernelMap> right);
  void frameFinished();
  bool isCurrentSession(uint64_t session) const;

  Environment env_;
  dispatch::ExecutorPtr mainQueue_;
  dispatch::ExecutorPtr depthBufferQueue_;

  std::unique_ptr<OrvexScreenCaptureRecord> ScreenCaptureRecord;
  std::unique_ptr<StereoGenerationHalf> sgHalf;
  std::unique_ptr<OrvexDynamicDepthFilter> DynamicDepthFilter;

  // Views (main queue, read elsewhere under the lock).
  mutable std::mutex viewsMutex_;
  std::shared_ptr<EyeView> leftView_;
  std::shared_ptr<EyeView> rightView_;
  std::shared_ptr<FrameTextureCache> textureCache_;
  std::optional<std::string> viewsError_;

  // The mailbox and the one frame in work.
  mutable std::mutex mailboxMutex_;
  std::condition_variable idle_;
  capture::CaptureFramePtr waiting_;
  uint64_t waitingSession_ = 0;
  bool working_ = false;  // a worker task is posted or running
  bool inWork_ = false;   // a frame is between the mailbox and the end of its road
  Counters counters_;

  // The newest finished frame on its way to the views.
  struct Presentation {
    uint64_t session = 0;
    capture::CaptureFramePtr leftTexture;
    capture::CaptureFramePtr rightTexture;
    std::shared_ptr<const KernelMap> left;
    std::shared_ptr<const KernelMap> right;
  };
  std::mutex presentationMutex_;
  Presentation presentation_;
  bool presentationPosted_ = false;

  // Session and the filter/generator state it guards.
  mutable std::mutex stateMutex_;
  std::atomic<uint64_t> session_{1};
  uint64_t workSession_ = 0;    // session of the frame in work
  uint64_t filterSession_ = 0;  // session the filter's state belongs to

  const DepthCompletion onDepthCompletion_;
  const std::function<void()> onFinished_;
  uint32_t portGeneration_ = 0;
  Port* const port_;
};

}  // namespace vistrelle::ai3d
