#include "ai3d/pipeline/orvex_screen_capture_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <optional>
#include <thread>

#include "platform/capture/fake/fake_screen_grabber.h"
#include "platform/capture/linux/xcb_screen_grabber.h"
#include "platform/capture/x11_painter.h"
#include "support/scoped_environment.h"
#include "support/xvfb_server.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::ai3d {
namespace {

using vistrelle::testing::ScopedEnvironment;

using capture::CaptureFramePtr;
using capture::DisplayInfo;
using capture::FakeScreenGrabber;
using ::testing::Contains;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

const std::vector<DisplayInfo> kDisplays = {{7, "MAIN", 0, 0, 64, 32, true},
                                            {9, "GLASSES", 64, 0, 96, 32, false}};

class CaptureRecordTest : public ::testing::Test {
 protected:
  OrvexScreenCaptureRecord::Options options(dispatch::ExecutorPtr video) {
    OrvexScreenCaptureRecord::Options o;
    o.videoQueue = std::move(video);
    o.mainQueue = main_;
    o.log = [this](const std::string& line) { logged_.push_back(line); };
    o.print = [this](const std::string& line) { printed_.push_back(line); };
    o.connect = [this](std::string* reason) -> std::unique_ptr<capture::ScreenGrabber> {
      ++connects_;
      if (connects_ > workingConnects_) {
        *reason = "no X11 display";
        return nullptr;
      }
      auto grabber = std::make_unique<FakeScreenGrabber>(kDisplays);
      last_ = grabber.get();
      return grabber;
    };
    return o;
  }

  std::shared_ptr<dispatch::VirtualExecutor> main_ =
      std::make_shared<dispatch::VirtualExecutor>("main");
  std::shared_ptr<dispatch::VirtualExecutor> video_ =
      std::make_shared<dispatch::VirtualExecutor>("video");
  std::vector<std::string> logged_;
  std::vector<std::string> printed_;
  int connects_ = 0;
  int workingConnects_ = 1000;
  FakeScreenGrabber* last_ = nullptr;
};

TEST_F(CaptureRecordTest, DeliversAtMostThirtyFramesPerSecondWithTheTag) {
  OrvexScreenCaptureRecord record(options(video_));
  std::vector<dispatch::TimePoint> stamps;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr& frame, int tag) {
    EXPECT_EQ(tag, 3);
    EXPECT_EQ(frame->width(), 64);
    stamps.push_back(frame->timestamp());
  });
  record.prepRecordWithDisplayID(7, 3);
  video_->runUntilIdle();
  EXPECT_TRUE(record.isRecording());
  ASSERT_TRUE(record.screen().has_value());
  EXPECT_EQ(record.screen()->name, "MAIN");
  EXPECT_EQ(record.availableContent().size(), 2u);
  ASSERT_TRUE(record.audioSettings().has_value());
  EXPECT_EQ(record.audioSettings()->sampleRate, 48000);
  EXPECT_EQ(record.audioSettings()->numberOfChannels, 2);
  EXPECT_EQ(record.audioSettings()->encoderBitRate, 256000);
  video_->advanceBy(3s);
  // Every one-second window holds at most 30 frames, and the stream keeps up.
  ASSERT_GE(stamps.size(), 90u);
  for (size_t i = 30; i < stamps.size(); ++i) {
    EXPECT_GE(stamps[i] - stamps[i - 30], 1s - 1us) << i;
  }
  EXPECT_EQ(last_->openedDisplay(), 7u);
  record.stopRecording();
}

TEST_F(CaptureRecordTest, UnknownDisplayGivesNoStream) {
  OrvexScreenCaptureRecord record(options(video_));
  int frames = 0;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr&, int) { ++frames; });
  record.prepare(12345);
  video_->advanceBy(1s);
  EXPECT_FALSE(record.isRecording());
  EXPECT_FALSE(record.screen().has_value());
  EXPECT_EQ(frames, 0);
  EXPECT_EQ(last_->grabs(), 0);
}

TEST_F(CaptureRecordTest, WithoutACallbackFramesAreDropped) {
  OrvexScreenCaptureRecord record(options(video_));
  record.prepare(7);
  video_->advanceBy(200ms);
  EXPECT_TRUE(record.isRecording());
  EXPECT_GT(last_->grabs(), 0);
}

TEST_F(CaptureRecordTest, ConnectionFailuresAreLogged) {
  struct Case {
    int working;
    const char* logged;
  };
  const Case cases[] = {{0, "== 啦啦啦啦啦啦啦啦 no X11 display"},
                        {1, "Failed to get the shareable content: no X11 display"}};
  for (const Case& c : cases) {
    logged_.clear();
    printed_.clear();
    connects_ = 0;
    workingConnects_ = c.working;
    OrvexScreenCaptureRecord record(options(video_));
    record.prepare(7);
    video_->runUntilIdle();
    EXPECT_FALSE(record.isRecording());
    EXPECT_THAT(logged_, Contains(c.logged));
  }
  EXPECT_THAT(printed_, Contains("Failed to get the shareable content: no X11 display"));
}

TEST_F(CaptureRecordTest, FailingGrabsAreLoggedOnceAndTheirEndToo) {
  OrvexScreenCaptureRecord record(options(video_));
  int frames = 0;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr&, int) { ++frames; });
  record.prepare(7);
  video_->advanceBy(100ms);
  EXPECT_TRUE(logged_.empty());
  last_->setGrabFailure("the X server refused the image (error 8)");
  video_->advanceBy(1s);
  const int before = frames;
  last_->setGrabFailure("");
  last_->resizeDisplay(48, 24);
  video_->advanceBy(100ms);
  EXPECT_GT(frames, before);
  EXPECT_EQ(logged_, (std::vector<std::string>{
                         "screen capture failed: the X server refused the image (error 8)",
                         "screen capture resumed at 48x24"}))
      << "one line for 30 failed frames, one for the first good one";
  last_->resizeDisplay(64, 32);
  video_->advanceBy(100ms);
  EXPECT_THAT(logged_, Contains("screen capture: the display is now 64x32"));
  EXPECT_EQ(logged_.size(), 3u);
}

TEST_F(CaptureRecordTest, LostServerStopsTheStreamOnTheMainQueue) {
  OrvexScreenCaptureRecord record(options(video_));
  record.setRecordingBufferCallBack([](const CaptureFramePtr&, int) {});
  record.prepare(7);
  video_->advanceBy(100ms);
  last_->setBroken(true);
  video_->advanceBy(100ms);
  EXPECT_TRUE(record.isRecording());
  main_->runUntilIdle();
  EXPECT_FALSE(record.isRecording());
  EXPECT_THAT(logged_, Contains(HasSubstr("screen capture stopped")));
}

TEST_F(CaptureRecordTest, NoCallbackRunsAfterStopReturns) {
  auto pool = std::make_shared<dispatch::ThreadPool>(2);
  auto video = dispatch::SerialQueue::create(OrvexScreenCaptureRecord::kVideoQueueLabel, pool);
  OrvexScreenCaptureRecord record(options(video));
  std::atomic<int> frames{0};
  std::atomic<bool> inside{false};
  record.setRecordingBufferCallBack([&](const CaptureFramePtr&, int) {
    inside = true;
    std::this_thread::sleep_for(2ms);
    ++frames;
    inside = false;
  });
  for (int round = 0; round < 3; ++round) {
    record.prepare(7);
    while (frames.load() < 2 * (round + 1)) std::this_thread::sleep_for(1ms);
    record.stopRecording();
    EXPECT_FALSE(inside.load());
    const int atStop = frames.load();
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(frames.load(), atStop) << round;
  }
}

TEST_F(CaptureRecordTest, StopFromInsideTheCallbackIsSafe) {
  OrvexScreenCaptureRecord record(options(video_));
  int frames = 0;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr&, int) {
    ++frames;
    record.stopRecording();
  });
  record.prepare(7);
  video_->advanceBy(1s);
  EXPECT_EQ(frames, 1);
  EXPECT_FALSE(record.isRecording());
}

TEST(CaptureRecordCpu, ReportsTheProcessorKind) {
  std::string printed;
  const bool arm =
      OrvexScreenCaptureRecord::getCPUTypeIsARM([&](const std::string& line) { printed = line; });
#if defined(__aarch64__)
  EXPECT_TRUE(arm);
  EXPECT_EQ(printed, "ARM===ARM===ARM===ARM");
#else
  EXPECT_FALSE(arm);
  EXPECT_EQ(printed, "X86_64===X86_64===X86_64===X86_64");
#endif
}

TEST(CaptureRecordX11, AWaylandSessionIsRefusedWithItsReason) {
  // Xwayland answers on DISPLAY, but its root window misses the Wayland windows.
  ScopedEnvironment display("DISPLAY", ":0");
  ScopedEnvironment sessionType("XDG_SESSION_TYPE", "wayland");
  std::vector<std::string> logged;
  OrvexScreenCaptureRecord::Options options;
  auto video = std::make_shared<dispatch::VirtualExecutor>("video");
  options.videoQueue = video;
  options.mainQueue = std::make_shared<dispatch::VirtualExecutor>("main");
  options.log = [&logged](const std::string& line) { logged.push_back(line); };
  options.print = [](const std::string&) {};
  OrvexScreenCaptureRecord record(options);
  EXPECT_EQ(record.mainDisplayID(), 0u);
  record.prepare(OrvexScreenCaptureRecord::kMainDisplayID);
  video->runUntilIdle();
  EXPECT_FALSE(record.isRecording());
  EXPECT_THAT(logged, Contains(std::string("== 啦啦啦啦啦啦啦啦 ") +
                               capture::XcbScreenGrabber::kWaylandSessionReason));
}

TEST(CaptureRecordX11, FramesOfTheMainDisplayArriveFromARealServer) {
  testing::XvfbServer server(160, 96);
  if (!server.available()) GTEST_SKIP() << "Xvfb is not installed: X11 capture not tested";
  auto pool = std::make_shared<dispatch::ThreadPool>(2);
  OrvexScreenCaptureRecord::Options options;
  options.videoQueue =
      dispatch::SerialQueue::create(OrvexScreenCaptureRecord::kVideoQueueLabel, pool);
  options.mainQueue = std::make_shared<dispatch::VirtualExecutor>();
  options.log = [](const std::string&) {};
  const std::string name = server.display();
  options.connect = [name](std::string* reason) {
    return std::unique_ptr<capture::ScreenGrabber>(
        capture::XcbScreenGrabber::connect(name.c_str(), reason));
  };
  OrvexScreenCaptureRecord record(options);
  std::mutex mutex;
  std::condition_variable arrived;
  int frames = 0;
  int width = 0, height = 0;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr& frame, int) {
    std::lock_guard lock(mutex);
    ++frames;
    width = frame->width();
    height = frame->height();
    arrived.notify_all();
  });
  record.prepRecordWithDisplayID(record.mainDisplayID(), 0);
  std::unique_lock lock(mutex);
  ASSERT_TRUE(arrived.wait_for(lock, 5s, [&] { return frames >= 3; }));
  lock.unlock();
  record.stopRecording();
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 96);
}

TEST(CaptureRecordX11, GoesOnAfterAModeChangeWithALogLine) {
  testing::XvfbServer server(320, 200);
  if (!server.available()) GTEST_SKIP() << "Xvfb is not installed: X11 capture not tested";
  testing::X11Painter painter(server.display());
  ASSERT_TRUE(painter.ok());
  auto pool = std::make_shared<dispatch::ThreadPool>(2);
  OrvexScreenCaptureRecord::Options options;
  options.videoQueue =
      dispatch::SerialQueue::create(OrvexScreenCaptureRecord::kVideoQueueLabel, pool);
  options.mainQueue = std::make_shared<dispatch::VirtualExecutor>();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> logged;
  options.log = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    logged.push_back(line);
  };
  const std::string name = server.display();
  options.connect = [name](std::string* reason) {
    return std::unique_ptr<capture::ScreenGrabber>(
        capture::XcbScreenGrabber::connect(name.c_str(), reason));
  };
  OrvexScreenCaptureRecord record(options);
  int width = 0, height = 0;
  record.setRecordingBufferCallBack([&](const CaptureFramePtr& frame, int) {
    std::lock_guard lock(mutex);
    width = frame->width();
    height = frame->height();
    changed.notify_all();
  });
  record.prepRecordWithDisplayID(record.mainDisplayID(), 0);
  auto waitForSize = [&](int w, int h) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 5s, [&] { return width == w && height == h; });
  };
  ASSERT_TRUE(waitForSize(320, 200));
  ASSERT_TRUE(painter.setMode(160, 100)) << "this Xvfb cannot change its mode";
  EXPECT_TRUE(waitForSize(160, 100)) << "capture stopped at the mode change";
  ASSERT_TRUE(painter.setMode(320, 200));
  EXPECT_TRUE(waitForSize(320, 200));
  record.stopRecording();
  std::lock_guard lock(mutex);
  EXPECT_THAT(logged, Contains("screen capture: the display is now 160x100"));
  EXPECT_THAT(logged, Contains("screen capture: the display is now 320x200"));
  for (const std::string& line : logged) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("failed"))) << "every grab succeeded";
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
