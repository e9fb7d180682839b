// OrvexScreenCaptureRecord: captures one display and hands every frame
// (BGRA, cursor drawn in) with the caller's tag to recordingBufferCallBack,
// on the serial video sample queue, at most 30 frames per second: frames are
// grabbed to absolute deadlines of that queue's monotonic clock, and a late
// grab never makes up for missed ones.
//
//   OrvexScreenCaptureRecord record;
//   record.setRecordingBufferCallBack([](const CaptureFramePtr& frame, int tag) { ... });
//   record.prepRecordWithDisplayID(record.mainDisplayID(), 0);
//   record.stopRecording();   // no callback runs once this returns
//
// A grab that fails is logged once, when the failures begin, and again when
// frames come back or change size (a mode change); the grabber itself opens
// the display again after a screen change.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/capture_frame.h"
#include "platform/capture/screen_grabber.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/timer_source.h"

namespace vistrelle::ai3d {

class OrvexScreenCaptureRecord {
 public:
  using Callback = std::function<void(const capture::CaptureFramePtr& frame, int tag)>;
  // A fresh connection to the display server, or null with the reason.
  using Connect = std::function<std::unique_ptr<capture::ScreenGrabber>(std::string* reason)>;
  using Log = std::function<void(const std::string&)>;

  static constexpr const char* kVideoQueueLabel =
      "cn.com.qx.orvexQXUSBService-samplecode.VideoSampleBufferQueue";
  static constexpr const char* kAudioQueueLabel =
      "cn.com.qx.orvexQXUSBService-samplecode.AudioSampleBufferQueue";
  static constexpr dispatch::Nanos kMinimumFrameInterval{1'000'000'000 / 30};
  // Stands for whichever display is the main one when the stream starts.
  static constexpr uint32_t kMainDisplayID = 0;

  struct Options {
    Connect connect;                                // default: X11 on $DISPLAY
    dispatch::ExecutorPtr videoQueue;               // default: a serial queue of the runtime
    dispatch::ExecutorPtr mainQueue;                // default: the runtime's main queue
    Log log;                                        // default: the text log
    std::function<void(const std::string&)> print;  // default: standard output
  };

  OrvexScreenCaptureRecord();
  explicit OrvexScreenCaptureRecord(Options options);
  ~OrvexScreenCaptureRecord();
  OrvexScreenCaptureRecord(const OrvexScreenCaptureRecord&) = delete;
  OrvexScreenCaptureRecord& operator=(const OrvexScreenCaptureRecord&) = delete;

  static OrvexScreenCaptureRecord& shareManager();

  void setRecordingBufferCallBack(Callback callback);
  void setTag(int tag) { tag_ = tag; }
  int tag() const { return tag_; }

  // The main display's id (0 when no display can be read).
  uint32_t mainDisplayID();

  // Stores tag and prepares capture of displayId asynchronously.
  void prepRecordWithDisplayID(uint32_t displayId, int tag);
  // Finds the display (kMainDisplayID: the main one) and starts the stream,
  // on the video sample queue.
  void prepare(uint32_t displayId);
  // Stops the stream; once it returns no callback runs. Safe from any
  // thread, also from the callback itself.
  void stopRecording();

  // Audio encoder settings kept for a recording stream; no capture stream
  // uses them.
  struct AudioSettings {
    int sampleRate = 0;
    int numberOfChannels = 0;
    std::string format;  // "aac": MPEG-4 AAC
    int encoderBitRate = 0;
  };
  void setupAudioSettings();
  std::optional<AudioSettings> audioSettings() const;

  // True on a 64-bit Arm processor; prints which one it found.
  static bool getCPUTypeIsARM(const std::function<void(const std::string&)>& print = {});

  bool isRecording() const;
  // What the last preparation found.
  std::optional<capture::DisplayInfo> screen() const;
  std::vector<capture::DisplayInfo> availableContent() const;
  const dispatch::ExecutorPtr& videoSampleBufferQueue() const { return videoQueue_; }

 private:
  void prepareOnQueue(uint32_t displayId, uint64_t session);
  void startCapture(uint64_t session);
  void deliverFrame(uint64_t session);
  bool isCurrentSession(uint64_t session) const;

  Options options_;
  dispatch::ExecutorPtr videoQueue_;
  std::atomic<int> tag_{0};

  mutable std::mutex mutex_;
  std::shared_ptr<const Callback> callback_;
  uint64_t session_ = 0;                             // bumped by every stop and preparation
  std::unique_ptr<capture::ScreenGrabber> grabber_;  // used on the video queue only
  std::optional<capture::DisplayInfo> screen_;
  std::vector<capture::DisplayInfo> availableContent_;
  std::optional<AudioSettings> audioSettings_;
  dispatch::TimerSourcePtr stream_;
  // The stream's health as last logged (video queue, under the lock).
  bool failing_ = false;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
};

}  // namespace vistrelle::ai3d
