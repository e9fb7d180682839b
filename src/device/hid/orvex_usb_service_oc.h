#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid/orvex_qx_server.h"
#include "platform/capture/capture_frame.h"
#include "platform/keyboard/synthetic_keyboard.h"
#include "platform/session/session_type.h"

namespace vistrelle::device {

// A captured frame copied out as an image: BGRA rows (premultiplied alpha
// first, 32-bit little-endian, as the frame holds them).
struct BufferImage {
  capture::CaptureFramePtr image;
  int width = 0;
  int height = 0;
};

// A captured frame copied out as bytes: height x bytes-per-row.
struct BufferData {
  std::vector<uint8_t> data;
  int width = 0;
  int height = 0;
};

// A facade of small services around the glasses for C callers (see
// usb_service_bridge.h): a command layer of its own for 3D on and off, frame
// converters, synthetic keyboard gestures, the screen-recording permission and
// a log sink for the display code.
//
// Its command layer (`qxService`) is a second one beside the application's:
// once started it opens the glasses too, but it writes no main state, moves
// no connection epoch and posts no status, so the application's road sees
// each plug-in once.
class OrvexUSBServiceOC {
 public:
  using DeviceChangeBlock = OrvexQXServer::DeviceChangeBlock;
  using PrintLogBlock = std::function<void(const std::string&)>;
  using PositionBlock = std::function<void(int64_t)>;
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    // Its command layer's options; it never publishes the connection.
    OrvexQXServer::Options server;
    // Default: the X11 keyboard, connected at the first gesture.
    std::shared_ptr<SyntheticKeyboard> keyboard;
    // Default: the process' environment.
    session::Environment environment;
    // The system-log lines; default: standard output.
    LogSink log;
  };

  explicit OrvexUSBServiceOC(Options options = {});
  ~OrvexUSBServiceOC();
  OrvexUSBServiceOC(const OrvexUSBServiceOC&) = delete;
  OrvexUSBServiceOC& operator=(const OrvexUSBServiceOC&) = delete;

  // The shared instance, created on first use (thread-safe) and kept for the
  // life of the process; its command layer is stopped before the process'
  // statics go.
  static OrvexUSBServiceOC& shareManager();

  // Starts the command layer's monitor and hands its device changes to
  // `devicePlugInOrPullOutBlock` ("启动设备").
  void start();
  // start_display_3d / stop_display_3d of the command layer.
  int32_t open3D(bool open);
  void updateAppPositionWithResult(int64_t result);
  void printLog(const std::string& text);

  // None for a missing frame.  Both log the lock result and the size.
  std::optional<BufferImage> bufferToImage(const capture::CaptureFramePtr& frame);
  std::optional<BufferData> bufferToData(const capture::CaptureFramePtr& frame);

  // Screen capture works in an X11 session, not in a Wayland one.
  bool canRecordScreen() const;
  // X11 has no permission prompt: logged only.
  void showScreenRecordingPrompt();
  // Control + arrow: 0 up, 1 down, 2 left, 3 right; any other does nothing.
  void handleThreeFingerSwipeIsLeft(int64_t direction);
  // X11 has no gesture events to post: logged only.
  void simulateThreeFingerSwipeUp();
  static void destroySpaceWithID(int64_t) {}

  void setDevicePlugInOrPullOutBlock(DeviceChangeBlock block);
  void setPrintLogOutputBlock(PrintLogBlock block);
  void setUpdateAppPositionBlock(PositionBlock block);

  OrvexQXServer& qxService() { return *qxService_; }

 private:
  SyntheticKeyboard& keyboard();

  Options options_;
  std::unique_ptr<OrvexQXServer> qxService_;
  mutable std::mutex mutex_;
  DeviceChangeBlock devicePlugInOrPullOutBlock_;
  PrintLogBlock printLogOutputBlock_;
  PositionBlock updateAppPositionBlock_;
  std::shared_ptr<SyntheticKeyboard> keyboard_;
};

}  // namespace vistrelle::device
