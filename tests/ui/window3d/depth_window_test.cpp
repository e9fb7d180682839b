// The 3D window for real: an Xorg dummy server with openbox, a checkerboard
// window full screen on the built-in DUMMY0, simulated glasses on the
// simulated HID bus whose command layer widens the glasses' DUMMY1 to 3840,
// a depth model that always sees one near square, short waits. What the
// glasses' output shows is read back with the X11 screen grabber.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "ai3d/pipeline/temp_folder.h"
#include "app/display_glass_screen_finder.h"
#include "app/qx_glasses_control.h"
#include "device/display/displays_rig.h"
#include "device/display/glasses_display_adapter.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/capture/linux/xcb_screen_grabber.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/display/linux/randr_display_server.h"
#include "platform/gpu/software_renderer.h"
#include "platform/inference/fake/fake_depth_network.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "sim/hid/sim_glasses_hid_device.h"
#include "sim/hid/sim_hid_bus.h"
#include "support/openbox_session.h"
#include "support/x_client.h"
#include "support/xorg_dummy_for_qt.h"
#include "support/xorg_dummy_server.h"
#include "ui/gl_eye_view.h"
#include "ui/gl_eye_view_factory.h"
#include "ui/orvex_depth_window.h"
#include "ui/qt_depth_window.h"
#include "ui/qt_main_queue.h"
#include "ui/screen_for_output.h"
#include "ui/stereo_gl_surface.h"

namespace vistrelle::ui {
namespace {

using namespace std::chrono_literals;
using testing::DummyLayout;
using testing::XorgDummyServer;

XorgDummyServer* xorg = nullptr;

template <class Done>
bool processEventsUntil(Done done, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The built-in screen's picture: a checkerboard of 64-pixel cells whose
// colours also change from cell to cell, so that a shift of less than a
// cell is told apart from any other.
uint32_t pattern(int x, int y) {
  const int cx = x / 64, cy = y / 64;
  const uint32_t green = ((cx + cy) % 2) != 0 ? 0xE0 : 0x20;
  const uint32_t red = static_cast<uint32_t>(cx * 37 + 11) % 256;
  const uint32_t blue = static_cast<uint32_t>(cy * 53 + 29) % 256;
  return (red << 16) | (green << 8) | blue;
}

class Checkerboard : public QWidget {
 public:
  Checkerboard() : image_(1920, 1080, QImage::Format_RGB32) {
    for (int y = 0; y < 1080; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(image_.scanLine(y));
      for (int x = 0; x < 1920; ++x) row[x] = 0xFF000000u | pattern(x, y);
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, image_); }

 private:
  QImage image_;
};

// In the model's 518 x 294: the near square, everything else far.
constexpr int kSquareX0 = 150, kSquareX1 = 370, kSquareY0 = 80, kSquareY1 = 215;

// What the glasses' output shows, read back from the X server.
std::shared_ptr<capture::CaptureFrame> grabGlasses() {
  std::string reason;
  auto grabber = capture::XcbScreenGrabber::connect(xorg->display().c_str(), &reason);
  if (!grabber) {
    ADD_FAILURE() << reason;
    return nullptr;
  }
  for (const capture::DisplayInfo& display : grabber->displays()) {
    if (display.x != 1920) continue;
    if (!grabber->open(display.id, false, &reason)) break;
    return grabber->grab(&reason);
  }
  ADD_FAILURE() << "no glasses output to grab: " << reason;
  return nullptr;
}

// Kept for a person to look at, beside the other UI tests' pictures.
void saveSnapshot(const capture::CaptureFrame& frame, const char* name) {
  const QString folder = QStringLiteral(VISTRELLE_UI_SNAPSHOT_DIR);
  QDir().mkpath(folder);
  const QImage image(frame.data(), frame.width(), frame.height(),
                     static_cast<qsizetype>(frame.stride()), QImage::Format_RGB32);
  image.save(folder + "/" + name);
}

uint32_t pixelAt(const capture::CaptureFrame& frame, int x, int y) {
  const uint8_t* p = frame.row(y) + 4 * x;
  return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

int channelDistance(uint32_t a, uint32_t b) {
  int sum = 0;
  for (int shift : {0, 8, 16}) {
    sum += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
  }
  return sum;
}

struct Shift {
  int pixels = 0;
  double error = 0;  // mean distance per pixel at that shift
};

// The shift s for which one half's row y over [x0, x1) best shows the
// built-in's row moved s pixels right.
Shift shiftOf(const capture::CaptureFrame& grab, int halfX, int y, int x0, int x1) {
  Shift best{0, 1e9};
  for (int s = -30; s <= 30; ++s) {
    long sum = 0;
    for (int x = x0; x < x1; ++x)
      sum += channelDistance(pixelAt(grab, halfX + x, y), pattern(x - s, y));
    const double error = static_cast<double>(sum) / (x1 - x0);
    if (error < best.error) best = {s, error};
  }
  return best;
}

class DepthWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xorg->setLayout(DummyLayout::Extended));
    ASSERT_TRUE(processEventsUntil([] {
      QScreen* glasses = screenForOutput("DUMMY1");
      return glasses != nullptr && glasses->geometry().width() == 1920;
    }));
    state_.reset();
    state_.isCPUARM.store(true);
    state_.isOpen3D.store(true);
    state_.depthValue.store(0.01f);

    device::OrvexQXServer::Options qx;
    qx.backend = bus_;
    qx.center = &center_;
    qx.parser = &parser_;
    qx.state = &state_;
    qx.defaults = &defaults_;
    qx.mainQueue = dispatch::mainQueue();
    qx.delays = {200ms, 200ms, 200ms};
    qx.print = [](std::string_view) {};
    qx.trace = [](std::string_view) {};
    qx.log = [](std::string_view) {};
    qx.showMessage = [](const std::string&) {};
    qxServer_ = std::make_unique<device::OrvexQXServer>(qx);
    qxServer_->setDisplayPort(std::make_shared<device::GlassesDisplayAdapter>(*displays_.displays));
    qxServer_->shareManager();
    control_ = std::make_unique<QxGlassesControl>(*qxServer_);
    glasses_ = std::make_unique<sim::SimGlassesHidDevice>(
        bus_, sim::SimGlassesModel::secondGeneration(), glassesClock_);
    glasses_->plug();
    ASSERT_TRUE(processEventsUntil([this] { return state_.glassStatus.load(); }));
    results_ = center_.observe(ai3d::OrvexDepthCustomManager::kSuccessOrError, nullptr,
                               [this](const Notification& note) {
                                 std::lock_guard lock(mutex_);
                                 posted_.push_back(static_cast<int>(note.object.intOr(-1)));
                               });
  }

  void TearDown() override {
    dropManager();
    if (qxServer_) qxServer_->stop();
  }

  void makeManager(StereoViewChoice choice) {
    ai3d::OrvexDepthCustomManager::Environment env;
    env.glasses = control_.get();
    env.screens = &finder_;
    env.makeWindow = [choice](ai3d::KernelBackend& backend) {
      return QtDepthWindow::make(backend, choice);
    };
    env.state = &state_;
    env.center = &center_;
    env.timer = &timer_;
    env.delays.searchPass = 100ms;
    env.delays.mirrorRetry = 100ms;
    env.delays.duty = 300ms;
    env.delays.dutyStep = 10ms;
    env.delays.placement = 100ms;
    env.delays.placementRetry = 200ms;
    env.delays.fullScreenSettle = 200ms;
    env.makeBackend = [] { return ai3d::makeCpuKernelBackend(4); };
    env.model.dataFolder = (folder_.path() / ".OrvexSpace").string();
    env.model.resourcePath = VISTRELLE_BUILT_RESOURCE;
    env.model.createDataFolder = [this] {
      std::filesystem::create_directories(folder_.path() / ".OrvexSpace");
      return true;
    };
    env.model.print = [](const std::string&) {};
    env.model.loadNetwork = [](std::span<const uint8_t>, std::string*) {
      auto network = std::make_unique<inference::FakeDepthNetwork>();
      network->setFill([](int x, int y, const inference::ImageInput&) {
        return (x >= kSquareX0 && x < kSquareX1 && y >= kSquareY0 && y < kSquareY1) ? 1.0f : 0.0f;
      });
      return network;
    };
    env.log = [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      logged_.push_back(line);
    };
    env.showMessage = [](const std::string&) {};
    manager_ = ai3d::OrvexDepthCustomManager::create(std::move(env));
  }

  void dropManager() {
    if (!manager_) return;
    if (manager_->depthWindow() != nullptr && manager_->depthWindow()->isVisible()) {
      manager_->close3DWindow();
      processEventsUntil([this] { return !manager_->depthWindow()->isVisible(); });
    }
    // Its tasks on the global queue hold it while they run.
    processEventsUntil([this] { return manager_.use_count() == 1; });
    manager_.reset();
  }

  // Opens and waits for the window to stand full screen on the glasses.
  OrvexDepthWindow* openOnGlasses() {
    const size_t before = posts().size();
    manager_->open3DWindow();
    if (!processEventsUntil([&] { return posts().size() > before; })) {
      ADD_FAILURE() << "no result posted; log:\n" << logText();
      return nullptr;
    }
    EXPECT_EQ(posts().back(), 1) << logText();
    auto* window = &static_cast<QtDepthWindow*>(manager_->depthWindow())->window();
    EXPECT_TRUE(processEventsUntil([window] {
      return window->isFullScreen() && window->geometry() == QRect(1920, 0, 3840, 1080);
    })) << "at "
        << window->geometry().x() << "," << window->geometry().y() << " " << window->width() << "x"
        << window->height();
    return window;
  }

  // A grab of the glasses' output once `frames` more frames were shown.
  std::shared_ptr<capture::CaptureFrame> grabAfterFrames(OrvexDepthWindow& window,
                                                         uint64_t frames) {
    const uint64_t target = window.framesDrawn() + frames;
    EXPECT_TRUE(processEventsUntil([&] { return window.framesDrawn() >= target; }))
        << window.framesDrawn() << " frames; log:\n"
        << logText();
    // The last paint reaches the server before the grab.
    processEventsUntil([] { return false; }, 100ms);
    return grabGlasses();
  }

  std::vector<int> posts() {
    std::lock_guard lock(mutex_);
    return posted_;
  }
  std::string logText() {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : logged_) text += line + "\n";
    return text;
  }
  bool logs(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    for (const auto& line : logged_) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  MainState state_;
  NotificationCenter center_;
  device::WearThresholds thresholds_;
  device::GlassReport parser_{center_, device::CompanionLink::none(), thresholds_,
                              [](std::string_view) {}};
  InMemoryUserDefaults defaults_;
  std::shared_ptr<sim::SimHidBus> bus_ = sim::SimHidBus::create();
  std::shared_ptr<dispatch::VirtualExecutor> glassesClock_ =
      std::make_shared<dispatch::VirtualExecutor>("glasses");
  testing::DisplaysRig displays_{"",
                                 std::make_shared<display::RandrDisplayServer>(xorg->display())};
  DisplayGlassScreenFinder finder_{*displays_.displays};
  std::unique_ptr<device::OrvexQXServer> qxServer_;
  std::unique_ptr<QxGlassesControl> control_;
  std::unique_ptr<sim::SimGlassesHidDevice> glasses_;
  GCXTimer timer_{dispatch::mainQueue(), dispatch::globalQueue()};
  testing::TempFolder folder_;
  std::shared_ptr<ai3d::OrvexDepthCustomManager> manager_;
  Subscription results_;
  std::mutex mutex_;
  std::vector<int> posted_;
  std::vector<std::string> logged_;
};

void expectStereo(const capture::CaptureFrame& grab, Shift* leftNear, Shift* rightNear) {
  ASSERT_EQ(grab.width(), 3840);
  ASSERT_EQ(grab.height(), 1080);
  // Far (the top rows): both halves show the built-in's picture as it is.
  for (int half : {0, 1920}) {
    const Shift far = shiftOf(grab, half, 100, 200, 1700);
    EXPECT_EQ(far.pixels, 0) << "half at " << half;
    EXPECT_LT(far.error, 12) << "half at " << half;
  }
  // Near (inside the square): moved apart, the left eye's picture right.
  *leftNear = shiftOf(grab, 0, 540, 700, 1200);
  *rightNear = shiftOf(grab, 1920, 540, 700, 1200);
  EXPECT_LT(leftNear->error, 12);
  EXPECT_LT(rightNear->error, 12);
  EXPECT_GE(leftNear->pixels, 5);
  EXPECT_LE(rightNear->pixels, -5);
  EXPECT_LE(std::abs(leftNear->pixels + rightNear->pixels), 2);
}

TEST_F(DepthWindowTest, OpensFullScreenOnTheGlassesAndShowsLiveStereo) {
  makeManager(StereoViewChoice::Automatic);
  OrvexDepthWindow* window = openOnGlasses();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(xorg->witness("DUMMY1")->width, 3840) << "widened by the command layer";
  EXPECT_TRUE(state_.isAI3DWindowOnGlasses.load());
  const StereoViewPath& path = window->path();
  EXPECT_TRUE(logs("AI 3D window: " + path.describe())) << logText();
  if (!path.renderer.empty() && gpu::isSoftwareRenderer(path.renderer)) {
    EXPECT_EQ(path.kind, StereoViewPath::Kind::Raster) << path.describe();
  }

  auto grab = grabAfterFrames(*window, 3);
  ASSERT_NE(grab, nullptr);
  saveSnapshot(*grab, "window3d-glasses-output.png");
  Shift left, right;
  expectStereo(*grab, &left, &right);

  // A new depth value shows on the next frames, with opposite signs.
  state_.depthValue.store(0.005f);
  grab = grabAfterFrames(*window, 3);
  ASSERT_NE(grab, nullptr);
  const Shift leftHalfDepth = shiftOf(*grab, 0, 540, 700, 1200);
  const Shift rightHalfDepth = shiftOf(*grab, 1920, 540, 700, 1200);
  EXPECT_GT(leftHalfDepth.pixels, 0);
  EXPECT_LT(leftHalfDepth.pixels, left.pixels);
  EXPECT_LT(rightHalfDepth.pixels, 0);
  EXPECT_GT(rightHalfDepth.pixels, right.pixels);
}

TEST_F(DepthWindowTest, TheOpenGlAndRasterPathsAgree) {
  makeManager(StereoViewChoice::Raster);
  OrvexDepthWindow* window = openOnGlasses();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(window->path().kind, StereoViewPath::Kind::Raster);
  const auto raster = grabAfterFrames(*window, 3);
  ASSERT_NE(raster, nullptr);
  dropManager();

  makeManager(StereoViewChoice::OpenGl);
  window = openOnGlasses();
  ASSERT_NE(window, nullptr);
  if (window->path().kind != StereoViewPath::Kind::OpenGl) {
    GTEST_SKIP() << "no OpenGL 4.3 on this X server: " << window->path().describe();
  }
  const auto gl = grabAfterFrames(*window, 3);
  ASSERT_NE(gl, nullptr);
  saveSnapshot(*gl, "window3d-glasses-output-opengl.png");
  EXPECT_LE(window->glSurface()->frameUploads(), window->framesDrawn() + 1)
      << "both eyes of a frame upload it once";

  Shift left, right;
  expectStereo(*gl, &left, &right);
  EXPECT_NEAR(left.pixels, shiftOf(*raster, 0, 540, 700, 1200).pixels, 1);
  EXPECT_NEAR(right.pixels, shiftOf(*raster, 1920, 540, 700, 1200).pixels, 1);
  long sum = 0;
  int far = 0;
  for (int y = 0; y < 1080; y += 3) {
    for (int x = 0; x < 3840; x += 3) {
      const int d = channelDistance(pixelAt(*gl, x, y), pixelAt(*raster, x, y));
      sum += d;
      far += d > 60 ? 1 : 0;
    }
  }
  const double pixels = (1080 / 3) * (3840 / 3);
  EXPECT_LT(sum / pixels, 4.0) << "mean distance over three channels";
  EXPECT_LT(far / pixels, 0.01) << "pixels far apart (edges sampled a fraction apart)";
}

TEST_F(DepthWindowTest, TheWindowManagersCloseStopsTheCapture) {
  makeManager(StereoViewChoice::Raster);
  OrvexDepthWindow* window = openOnGlasses();
  ASSERT_NE(window, nullptr);
  ai3d::OrvexScreenCaptureRecord* record =
      manager_->deopth3DViewController()->screenCaptureRecord();
  ASSERT_TRUE(processEventsUntil([record] { return record->isRecording(); }));

  testing::XClient x(xorg->display());
  x.requestClose(static_cast<xcb_window_t>(window->winId()));
  EXPECT_TRUE(processEventsUntil([window] { return !window->isVisible(); }));
  EXPECT_FALSE(record->isRecording());
  EXPECT_FALSE(state_.isAI3DWindowOnGlasses.load());
}

TEST(DepthPreview, OffByDefaultAndWhenOnShowsTheMapAsGreyFittedLikeAFrame) {
  ASSERT_TRUE(xorg->setLayout(DummyLayout::Extended));
  ASSERT_TRUE(processEventsUntil([] {
    QScreen* glasses = screenForOutput("DUMMY1");
    return glasses != nullptr && glasses->geometry().width() == 1920;
  }));
  auto backend = ai3d::makeCpuKernelBackend(1);
  QWidget window;
  auto* surface = new StereoGlSurface(&window);
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(surface);
  GlEyeViewFactory views(surface, *backend);
  auto left = std::static_pointer_cast<GlEyeView>(views.makeView(false));
  auto right = std::static_pointer_cast<GlEyeView>(views.makeView(true));
  EXPECT_FALSE(left->isShwoDepth());
  window.setGeometry(screenForOutput("DUMMY1")->geometry());
  window.showFullScreen();
  ASSERT_TRUE(processEventsUntil([&] { return window.geometry() == QRect(1920, 0, 1920, 1080); }));
  if (!surface->failure().empty()) GTEST_SKIP() << surface->failure();

  auto half = std::make_shared<ai3d::HalfMapCopy>(8, 8);
  std::fill(half->values().begin(), half->values().end(), ai3d::floatToHalf(0.5f));
  half->setSerial(1);
  left->setDepthTexture(half);
  left->setIsShwoDepth(true);
  left->draw();
  right->draw();  // nothing to show: black
  processEventsUntil([] { return false; }, 300ms);

  std::string reason;
  auto grabber = capture::XcbScreenGrabber::connect(xorg->display().c_str(), &reason);
  ASSERT_NE(grabber, nullptr) << reason;
  std::shared_ptr<capture::CaptureFrame> grab;
  for (const capture::DisplayInfo& display : grabber->displays()) {
    if (display.x == 1920 && grabber->open(display.id, false, &reason))
      grab = grabber->grab(&reason);
  }
  ASSERT_NE(grab, nullptr) << reason;
  // Without a frame the preview is fitted as a square: 960 x 960 in the
  // left half, centred.
  EXPECT_NEAR(static_cast<int>(pixelAt(*grab, 480, 540) & 0xFF), 128, 2);
  EXPECT_EQ(pixelAt(*grab, 480, 540) >> 8 & 0xFF, pixelAt(*grab, 480, 540) & 0xFF) << "grey";
  EXPECT_EQ(pixelAt(*grab, 480, 30), 0u) << "letterbox";
  EXPECT_EQ(pixelAt(*grab, 1440, 540), 0u) << "the right eye has nothing";
  EXPECT_EQ(surface->framesDrawn(), 0u) << "no frame was shown";
}

}  // namespace
}  // namespace vistrelle::ui

// Qt goes to the dummy server (with openbox managing it), not to the shared
// display of the other tests.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vistrelle::testing::XorgDummyServer server;
  if (!vistrelle::testing::useXorgDummyForQt(server)) return 1;
  vistrelle::testing::OpenboxSession openbox(server.display());
  if (!openbox.running()) {
    std::fprintf(stderr, "no window manager: %s\n", openbox.error().c_str());
    return 1;
  }
  vistrelle::ui::xorg = &server;
  unsetenv(vistrelle::ui::kStereoViewEnvironmentVariable);
  QSurfaceFormat format;
  format.setVersion(4, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  QSurfaceFormat::setDefaultFormat(format);
  int status = 0;
  {
    // Never destroyed: with the application's X connection Qt's GLX would
    // unload the GL driver, and LeakSanitizer could then no longer name (and
    // so suppress) what that driver keeps for the life of the process.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
    vistrelle::dispatch::Runtime runtime(std::make_shared<vistrelle::ui::QtMainQueue>());
    // The built-in screen's content, and the pointer off what is analysed.
    vistrelle::ui::Checkerboard board;
    board.setGeometry(vistrelle::ui::screenForOutput("DUMMY0")->geometry());
    board.showFullScreen();
    if (!vistrelle::ui::processEventsUntil([&board] {
          return board.isFullScreen() && board.geometry() == QRect(0, 0, 1920, 1080);
        })) {
      std::fprintf(stderr, "the checkerboard is not full screen on DUMMY0\n");
      return 1;
    }
    vistrelle::testing::XClient(server.display()).warpPointer(1900, 1060);
    status = RUN_ALL_TESTS();
    // Views let go of last are deleted on the GUI thread's next turn.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    runtime.runStops();
    runtime.stop();
  }
  return status;
}
